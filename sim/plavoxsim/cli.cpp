#include "cli.h"

#include <charconv>
#include <limits>

namespace plavoxsim {
namespace {

template <typename T>
std::optional<T> ParseNumber(const std::string& text)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        auto value = [&]() -> const std::string& { return args[++i]; };

        if (arg == "--play") {
            options.play = true;
        } else if (arg == "--close") {
            options.close = true;
        } else if (arg == "--log-times") {
            options.log_times = true;
        } else if ((arg == "--log" || arg == "--title" || arg == "--track" || arg == "--send" || arg == "--ask") &&
                   !has_value) {
            error = arg + " needs a value";
            return std::nullopt;
        } else if (arg == "--log") {
            options.log_path = value();
            if (options.log_path.empty()) {
                error = "--log needs a file name";
                return std::nullopt;
            }
        } else if (arg == "--title") {
            options.title = value();
        } else if (arg == "--track") {
            const auto number = ParseNumber<size_t>(value());
            if (!number || *number == 0) {
                error = "--track takes a track number from 1";
                return std::nullopt;
            }
            options.track = *number;
        } else if (arg == "--send") {
            options.send_command = ParseNumber<int>(value());
            if (!options.send_command) {
                error = "--send takes a command number";
                return std::nullopt;
            }
        } else if (arg == "--ask") {
            options.ask_lparam = ParseNumber<uint32_t>(value());
            if (!options.ask_lparam) {
                error = "--ask takes a request number";
                return std::nullopt;
            }
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                const auto wparam = ParseNumber<uint32_t>(value());
                if (!wparam) {
                    error = "--ask takes a number as its second value";
                    return std::nullopt;
                }
                options.ask_wparam = *wparam;
            }
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (options.log_times && options.log_path.empty()) {
        error = "--log-times needs --log";
        return std::nullopt;
    }
    const int helpers = !!options.send_command + !!options.ask_lparam + options.close;
    if (helpers > 1) {
        error = "--send, --ask and --close go alone";
        return std::nullopt;
    }
    return options;
}

std::string LogLine(std::string_view message, uint32_t wparam, int32_t lparam,
                    std::optional<int64_t> unix_microseconds)
{
    std::string line(message);
    line += ' ';
    line += std::to_string(wparam);
    line += ' ';
    line += std::to_string(lparam);
    if (unix_microseconds) {
        const std::string fraction = std::to_string(1000000 + *unix_microseconds % 1000000);
        line += " @" + std::to_string(*unix_microseconds / 1000000) + '.' + fraction.substr(1);
    }
    line += '\n';
    return line;
}

}  // namespace plavoxsim
