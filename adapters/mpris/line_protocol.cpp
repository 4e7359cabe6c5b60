#include "line_protocol.h"

#include <array>
#include <charconv>
#include <utility>

#include <plavox/player_window.h>

#include "utf8.h"

namespace mpris_bridge {
namespace {

struct CommandInfo {
    Command command;
    std::string_view name;
};

constexpr std::array<CommandInfo, 10> kCommands{{
    {Command::Play, "play"},
    {Command::Pause, "pause"},
    {Command::Stop, "stop"},
    {Command::Next, "next"},
    {Command::Previous, "previous"},
    {Command::SkipForward, "skip-forward"},
    {Command::SkipBack, "skip-back"},
    {Command::FadeAndStop, "fade-stop"},
    {Command::Shuffle, "shuffle"},
    {Command::Quit, "quit"},
}};

struct PlayerCommandId {
    int id;
    Command command;
};

constexpr std::array<PlayerCommandId, 9> kPlayerCommandIds{{
    {plavox::player::kPlay, Command::Play},
    {plavox::player::kPause, Command::Pause},
    {plavox::player::kStop, Command::Stop},
    {plavox::player::kNext, Command::Next},
    {plavox::player::kPrevious, Command::Previous},
    {plavox::player::kSkipForward, Command::SkipForward},
    {plavox::player::kSkipBack, Command::SkipBack},
    {plavox::player::kFadeAndStop, Command::FadeAndStop},
    {plavox::player::kShuffle, Command::Shuffle},
}};

// Splits off the text up to the next blank; the rest follows the blank.
std::string_view TakeField(std::string_view& rest) noexcept
{
    const size_t blank = rest.find(' ');
    const std::string_view field = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view{} : rest.substr(blank + 1);
    return field;
}

template <typename Int>
bool ParseInteger(std::string_view text, Int& value) noexcept
{
    if (text.empty() || text.size() > 20) return false;
    if (text[0] == '+') return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

bool IsToken(std::string_view token) noexcept
{
    if (token.empty() || token.size() > kMaxTokenLength) return false;
    for (const char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

Parsed Refuse(std::string error) { return Parsed{std::nullopt, std::move(error)}; }

Parsed ParseStatus(std::string_view rest)
{
    Status status;
    int32_t state = 0;
    const bool numbers = ParseInteger(TakeField(rest), state) && ParseInteger(TakeField(rest), status.position_ms) &&
                         ParseInteger(TakeField(rest), status.rate_per_mille) &&
                         ParseInteger(TakeField(rest), status.length_s) &&
                         ParseInteger(TakeField(rest), status.freq_hz) && ParseInteger(TakeField(rest), status.kbps);
    if (!numbers || !rest.empty()) return Refuse("STATUS wants six integers");
    if (state != 0 && state != 1 && state != 3) return Refuse("STATUS with an unknown play state");
    if (status.position_ms < 0 || status.rate_per_mille < 0 || status.length_s < 0 || status.freq_hz < 0 ||
        status.kbps < 0) {
        return Refuse("STATUS with a negative figure");
    }
    status.state = static_cast<PlayState>(state);
    return Parsed{StatusLine{status}, {}};
}

// Replaces what would make a TRACK line unparseable by '?': each control
// character, and each byte that starts no well-formed character.
std::string CleanTitle(std::string_view title)
{
    if (IsCleanUtf8(title)) return std::string(title);
    std::string clean;
    for (size_t i = 0; i < title.size();) {
        const CodePoint c = DecodeAt(title, i);
        const bool control = c.length && (c.value < 0x20 || c.value == 0x7F);
        clean += c.length && !control ? std::string(title.substr(i, c.length)) : std::string("?");
        i += c.length ? c.length : 1;
    }
    return clean;
}

}  // namespace

std::string_view CommandName(Command command) noexcept
{
    for (const CommandInfo& info : kCommands) {
        if (info.command == command) return info.name;
    }
    return {};
}

std::optional<Command> CommandFromName(std::string_view name) noexcept
{
    for (const CommandInfo& info : kCommands) {
        if (info.name == name) return info.command;
    }
    return std::nullopt;
}

std::optional<Command> CommandForPlayerCommandId(int id) noexcept
{
    for (const PlayerCommandId& entry : kPlayerCommandIds) {
        if (entry.id == id) return entry.command;
    }
    return std::nullopt;
}

std::string Encode(const Message& message)
{
    struct Encoder {
        std::string operator()(const Hello& m) const { return "HELLO " + m.token + "\n"; }
        std::string operator()(const CommandLine& m) const
        {
            return "CMD " + std::string(CommandName(m.command)) + "\n";
        }
        std::string operator()(const Presence& m) const { return m.present ? "PLAYER 1\n" : "PLAYER 0\n"; }
        std::string operator()(const TrackTitle& m) const
        {
            std::string title = CleanTitle(m.title);
            if (title.size() > kMaxLine - 6) title.resize(kMaxLine - 6);
            // A cut inside a character would leave broken UTF-8 at the end.
            while (!IsCleanUtf8(title)) title.pop_back();
            return "TRACK " + title + "\n";
        }
        std::string operator()(const StatusLine& m) const
        {
            const Status& s = m.status;
            return "STATUS " + std::to_string(static_cast<int32_t>(s.state)) + " " + std::to_string(s.position_ms) +
                   " " + std::to_string(s.rate_per_mille) + " " + std::to_string(s.length_s) + " " +
                   std::to_string(s.freq_hz) + " " + std::to_string(s.kbps) + "\n";
        }
    };
    return std::visit(Encoder{}, message);
}

Parsed ParseLine(std::string_view line)
{
    if (line.size() > kMaxLine) return Refuse("line longer than " + std::to_string(kMaxLine) + " bytes");
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsCleanUtf8(line)) return Refuse("control characters or broken UTF-8");
    std::string_view rest = line;
    const std::string_view verb = TakeField(rest);
    if (verb == "HELLO") {
        if (!IsToken(rest)) return Refuse("HELLO without a well-formed token");
        return Parsed{Hello{std::string(rest)}, {}};
    }
    if (verb == "CMD") {
        const std::optional<Command> command = CommandFromName(rest);
        if (!command) return Refuse("unknown command");
        return Parsed{CommandLine{*command}, {}};
    }
    if (verb == "PLAYER") {
        if (rest != "0" && rest != "1") return Refuse("PLAYER wants 0 or 1");
        return Parsed{Presence{rest == "1"}, {}};
    }
    if (verb == "TRACK") return Parsed{TrackTitle{std::string(rest)}, {}};
    if (verb == "STATUS") return ParseStatus(rest);
    return Refuse("unknown message");
}

void LineSplitter::Feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline);
        if (!discarding_) {
            if (pending_.size() + piece.size() > kMaxLine) {
                discarding_ = true;
                pending_.clear();
            } else {
                pending_.append(piece);
            }
        }
        if (newline == std::string_view::npos) return;
        ready_.push_back(Line{discarding_ ? std::string() : std::move(pending_), discarding_});
        pending_.clear();
        discarding_ = false;
        bytes.remove_prefix(newline + 1);
    }
}

std::optional<LineSplitter::Line> LineSplitter::Next()
{
    if (ready_.empty()) return std::nullopt;
    Line line = std::move(ready_.front());
    ready_.pop_front();
    return line;
}

void LineSplitter::Reset()
{
    pending_.clear();
    ready_.clear();
    discarding_ = false;
}

bool TokensEqual(std::string_view a, std::string_view b) noexcept
{
    // The length is not secret (it is fixed per run); the contents are.
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool IsCleanUtf8(std::string_view text) noexcept
{
    for (size_t i = 0; i < text.size();) {
        const CodePoint c = DecodeAt(text, i);
        if (!c.length || c.value < 0x20 || c.value == 0x7F) return false;
        i += c.length;
    }
    return true;
}

}  // namespace mpris_bridge
