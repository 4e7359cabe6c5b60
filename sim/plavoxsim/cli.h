// plavoxsim's command line and the lines of its message log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plavoxsim {

inline constexpr char kUsage[] =
    "usage: plavoxsim [--log FILE [--log-times]] [--title TEXT] [--track N] [--play]\n"
    "       plavoxsim --send COMMAND          send WM_COMMAND COMMAND to the running simulator\n"
    "       plavoxsim --ask LPARAM [WPARAM]   send WM_USER and print the answer\n"
    "       plavoxsim --close                 send WM_CLOSE\n";

struct Options {
    std::string log_path;    // "" for no log
    bool log_times = false;  // each log line ends with the Unix time it was written
    std::optional<std::string> title;  // a raw window title that replaces the player's own
    size_t track = 1;        // 1-based
    bool play = false;

    // Helper verbs: act on a running simulator and end.
    std::optional<int> send_command;
    std::optional<uint32_t> ask_lparam;
    uint32_t ask_wparam = 0;
    bool close = false;

    bool IsHelper() const { return send_command || ask_lparam || close; }
};

// The options, or nothing with a message in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// One line of the message log, e.g. "WM_COMMAND 40045 0", with its newline;
// with a time, "WM_COMMAND 40045 0 @1700000000.123456" (Unix seconds).
std::string LogLine(std::string_view message, uint32_t wparam, int32_t lparam,
                    std::optional<int64_t> unix_microseconds = std::nullopt);

}  // namespace plavoxsim
