// njlink: our link on a serial port, natively, on the command line: the
// platform-free link over the native line driver, the same code the
// native nightjar speaks. A send/recv peer for tests and bench/.
//
//   njlink [OPTIONS] DEVICE send B1 B2 ...   send bytes (decimal, or 0x.. hex)
//   njlink [OPTIONS] DEVICE sendstr TEXT     send TEXT's bytes and a 0 terminator
//   njlink [OPTIONS] DEVICE recv N           receive N bytes, print them in decimal
//
// OPTIONS: --timeout SECONDS bounds each wait (default 10); --stats reports
// on stderr the rate of a recv from its second byte on (the first waits for
// the sender to start). Exit status: 0 done, 1 failed, 2 bad command line,
// 3 out of time.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "calculator_end.h"
#include "timed_link.h"
#include "tty_lines.h"

namespace {

using namespace nightjar;

constexpr char kUsage[] =
    "usage: njlink [--timeout SECONDS] [--stats] DEVICE send B1 B2 ...\n"
    "       njlink [...] DEVICE sendstr TEXT | recv N\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A whole number within [low, high]: a count or a number of seconds.
std::size_t Count(std::string_view text, std::size_t low, std::size_t high)
{
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        throw UsageError("expected a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
                         std::string(text) + "\"");
    return value;
}

struct Options {
    std::chrono::milliseconds timeout{10'000};
    bool stats = false;
    std::string device;
    std::string command;
    std::vector<std::string_view> args;
};

Options ParseOptions(int argc, char** argv)
{
    Options o;
    std::vector<std::string_view> words(argv + 1, argv + argc);
    std::size_t i = 0;
    for (; i < words.size() && words[i].substr(0, 2) == "--"; ++i) {
        if (words[i] == "--stats") {
            o.stats = true;
        } else if (words[i] == "--timeout" && i + 1 < words.size()) {
            o.timeout = std::chrono::seconds(Count(words[++i], 1, 3600));
        } else {
            throw UsageError("unknown option " + std::string(words[i]));
        }
    }
    if (words.size() - i < 2) throw UsageError("no device or no command");
    o.device = words[i];
    o.command = words[i + 1];
    o.args.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 2, words.end());
    return o;
}

// The bytes of a send (each a byte as the calculator end parses one) or a sendstr.
std::vector<std::uint8_t> BytesToSend(const Options& o)
{
    std::vector<std::uint8_t> bytes;
    if (o.command == "send") {
        for (const std::string_view arg : o.args) {
            const auto byte = calc::ParseByte(arg);
            if (!byte) throw UsageError("not a byte: " + std::string(arg));
            bytes.push_back(*byte);
        }
    } else if (o.command == "sendstr" && o.args.size() == 1) {
        bytes.assign(o.args[0].begin(), o.args[0].end());
        bytes.push_back(0);
    } else {
        throw UsageError("bad command");
    }
    return bytes;
}

std::uint8_t ReceiveOne(native::TimedLink& link, std::chrono::milliseconds timeout)
{
    if (!link.WaitForSender(timeout)) throw native::HandshakeTimeout("the other end did not start a byte");
    return link.ReceiveByte();
}

void ReceiveAndPrint(native::TimedLink& link, std::size_t count, const Options& o)
{
    std::string line;
    std::chrono::steady_clock::time_point start;
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 1) start = std::chrono::steady_clock::now();
        line += (line.empty() ? "" : " ") + std::to_string(ReceiveOne(link, o.timeout));
    }
    std::printf("%s\n", line.c_str());
    if (o.stats && count > 1) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "njlink: %zu bytes in %.4f s, %.0f bytes/s\n", count - 1, seconds,
                     seconds > 0 ? (count - 1) / seconds : 0.0);
    }
}

int Run(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    const bool receive = o.command == "recv" && o.args.size() == 1;
    const std::vector<std::uint8_t> bytes = receive ? std::vector<std::uint8_t>{} : BytesToSend(o);
    const std::size_t count = receive ? Count(o.args[0], 0, 1 << 24) : 0;

    const auto lines = tty::TtyLines::Open(o.device);
    native::TimedLink link(*lines, o.timeout);
    if (receive) {
        ReceiveAndPrint(link, count, o);
    } else {
        for (const std::uint8_t b : bytes) link.SendByte(b);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "njlink: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const native::HandshakeTimeout& e) {
        std::fprintf(stderr, "njlink: %s\n", e.what());
        return 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "njlink: %s\n", e.what());
        return 1;
    }
}
