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

}  // namespace nightjar::calc
