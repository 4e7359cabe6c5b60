#include "calculator_end.h"

#include <charconv>

namespace nightjar::calc {

std::string_view CommandName(std::uint8_t byte)
{
    switch (byte) {
    case 2: return "skip back";
    case 3: return "skip forward";
    case 49: return "next track";
    case 50: return "stop";
    case 51: return "pause";
    case 52: return "play";
    case 53: return "previous track";
    case 54: return "show/hide window";
    default: return "";
    }
}

std::optional<Announcement> AnnouncementReader::Take(std::uint8_t byte)
{
    if (fields_done_ == 2) {
        fields_done_ = 0;
        if (byte == kAnnouncementEnd) return Announcement{std::move(artist_), std::move(title_)};
        // Not an end byte: drop what came before and read this as a new start.
    }
    if (byte != 0) {
        current_.push_back(static_cast<char>(byte));
        return std::nullopt;
    }
    (fields_done_ == 0 ? artist_ : title_) = std::move(current_);
    current_.clear();
    ++fields_done_;
    return std::nullopt;
}

std::optional<std::uint8_t> ParseByte(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::string SentLine(std::uint8_t byte)
{
    const std::string_view name = CommandName(byte);
    std::string line = "sent " + std::to_string(byte);
    return name.empty() ? line : line + " (" + std::string(name) + ")";
}

std::string NowPlayingLine(std::string_view artist, std::string_view title)
{
    if (artist.empty() && title.empty()) return "now playing: nothing";
    if (artist.empty()) return "now playing: " + std::string(title);
    return "now playing: " + std::string(artist) + " - " + std::string(title);
}

YieldAction ChooseYield(std::uint64_t now_ms, std::uint64_t last_pump_ms, std::int32_t start_wait_polls)
{
    if (now_ms != last_pump_ms) return YieldAction::Pump;
    return start_wait_polls > kPatientPolls ? YieldAction::Sleep : YieldAction::Offer;
}

bool KeyQueue::Push(std::uint8_t byte)
{
    if (size_ == kCapacity) return false;
    bytes_[(head_ + size_) % kCapacity] = byte;
    ++size_;
    return true;
}

std::optional<std::uint8_t> KeyQueue::Pop()
{
    if (size_ == 0) return std::nullopt;
    const std::uint8_t byte = bytes_[head_];
    head_ = (head_ + 1) % kCapacity;
    --size_;
    return byte;
}

}  // namespace nightjar::calc
