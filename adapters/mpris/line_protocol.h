// The line protocol between the bridge window (a Windows program under Wine)
// and the session-bus helper (a native program), over one loopback TCP
// connection that the bridge opens to the helper.
//
// Every message is one line of UTF-8 text ending in "\n", at most kMaxLine
// bytes before the newline; fields are separated by single blanks. The
// first line of a connection is the bridge's HELLO with the per-run token;
// the helper drops a connection that sends anything else first, or a wrong
// token. After HELLO the helper sends the whole state (PLAYER, then TRACK
// and STATUS while a player is present) and from then on every change.
//
//   bridge -> helper
//     HELLO <token>          token: 1 to 128 lower-case hex digits
//     CMD <command>          play pause stop next previous skip-forward
//                            skip-back fade-stop shuffle quit
//   helper -> bridge
//     PLAYER <0|1>           no player to follow / a player is followed
//     TRACK <title>          the window title, ready to show (rest of line)
//     STATUS <state> <position-ms> <rate-per-mille> <length-s> <freq-hz> <kbps>
//                            state 0 stopped, 1 playing, 3 paused; the
//                            position as read when the line was sent
//
// A line that does not parse is logged and skipped; it never ends the
// connection (apart from a bad HELLO) and never changes any state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mpris_bridge {

inline constexpr size_t kMaxLine = 1024;
inline constexpr size_t kMaxTokenLength = 128;

enum class Command { Play, Pause, Stop, Next, Previous, SkipForward, SkipBack, FadeAndStop, Shuffle, Quit };

std::string_view CommandName(Command command) noexcept;
std::optional<Command> CommandFromName(std::string_view name) noexcept;

// The media player's WM_COMMAND numbers as Plavox sends them; WM_CLOSE is Quit.
std::optional<Command> CommandForPlayerCommandId(int id) noexcept;

enum class PlayState : int32_t { Stopped = 0, Playing = 1, Paused = 3 };

struct Status {
    PlayState state = PlayState::Stopped;
    int64_t position_ms = 0;
    int32_t rate_per_mille = 1000;
    int32_t length_s = 0;
    int32_t freq_hz = 0;
    int32_t kbps = 0;
    bool operator==(const Status&) const = default;
};

struct Hello {
    std::string token;
    bool operator==(const Hello&) const = default;
};
struct CommandLine {
    Command command;
    bool operator==(const CommandLine&) const = default;
};
struct Presence {
    bool present;
    bool operator==(const Presence&) const = default;
};
struct TrackTitle {
    std::string title;
    bool operator==(const TrackTitle&) const = default;
};
struct StatusLine {
    Status status;
    bool operator==(const StatusLine&) const = default;
};

using Message = std::variant<Hello, CommandLine, Presence, TrackTitle, StatusLine>;

// The line for a message, newline included. A title with bytes that the
// parser would refuse (control characters, invalid UTF-8) is sent with
// those bytes replaced, so an encoded line always parses.
std::string Encode(const Message& message);

struct Parsed {
    std::optional<Message> message;
    std::string error;  // why the line was refused when there is no message
};
// One line without its newline.
Parsed ParseLine(std::string_view line);

// Cuts a byte stream into lines. A line longer than kMaxLine is dropped
// whole, up to and including its newline, and reported once as oversized;
// its bytes are never kept past the limit.
class LineSplitter {
public:
    struct Line {
        std::string text;
        bool oversized = false;
    };

    void Feed(std::string_view bytes);
    std::optional<Line> Next();
    void Reset();

private:
    std::string pending_;
    std::deque<Line> ready_;
    bool discarding_ = false;
};

// Compares without an early exit, so the time taken says nothing about how
// much of a guessed token was right.
bool TokensEqual(std::string_view a, std::string_view b) noexcept;

// Valid UTF-8 without C0 controls or DEL.
bool IsCleanUtf8(std::string_view text) noexcept;

}  // namespace mpris_bridge
