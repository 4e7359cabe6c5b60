// ticalc: a calculator's end of the link cable on libticables2, for the
// virtual cable. Same commands as linkcat, plus one that stops mid-byte.
//
//   ticalc [OPTIONS] send B1 B2 ...      send bytes given in decimal
//   ticalc [OPTIONS] sendstr TEXT        send TEXT's bytes and a 0 terminator
//   ticalc [OPTIONS] recv N              receive N bytes, print them in decimal
//   ticalc [OPTIONS] bits VALUE COUNT    send the first COUNT bits of VALUE, then stop
//
// OPTIONS: --port N (libticables' port, 1 to 4; default 2) and --timeout
// SECONDS (each wait; default 10); --stats reports on stderr the rate of a
// recv from its second byte on (the first waits for the sender to start).
// The process must run with the cable's environment and NJ_CABLE_REDIRECT
// sending /dev/ttyS<N-1> to a cable end; it refuses to run otherwise.
// Exit status: 0 done, 1 failed, 2 bad command line.
#include "ti_cable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: ticalc [--port N] [--timeout SECONDS] [--stats] send B1 B2 ...\n"
    "       ticalc [...] sendstr TEXT | recv N | bits VALUE COUNT\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

long Number(const char* text, long low, long high)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        throw UsageError(std::string("not a number from ") + std::to_string(low) + " to " + std::to_string(high) +
                         ": " + text);
    return value;
}

struct Options {
    int port = 2;
    unsigned timeout_tenths = 100;
    bool stats = false;
    int first = 0;  // index of the command word
};

Options ParseOptions(int argc, char** argv)
{
    Options o;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--stats") == 0) {
            o.stats = true;
        } else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            o.port = static_cast<int>(Number(argv[++i], 1, 4));
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            o.timeout_tenths = static_cast<unsigned>(Number(argv[++i], 1, 3600) * 10);
        } else {
            throw UsageError(std::string("unknown option ") + argv[i]);
        }
    }
    if (i >= argc) throw UsageError("no command");
    o.first = i;
    return o;
}

void ReceiveAndPrint(ticalc::TiCable& cable, std::size_t count, bool stats)
{
    std::vector<std::uint8_t> got = cable.Receive(count > 0 ? 1 : 0);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::uint8_t> rest = cable.Receive(count > 0 ? count - 1 : 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    got.insert(got.end(), rest.begin(), rest.end());
    std::string line;
    for (const std::uint8_t b : got) line += (line.empty() ? "" : " ") + std::to_string(b);
    std::printf("%s\n", line.c_str());
    if (stats && count > 1)
        std::fprintf(stderr, "ticalc: %zu bytes in %.4f s, %.0f bytes/s\n", rest.size(), seconds,
                     seconds > 0 ? rest.size() / seconds : 0.0);
}

int Run(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    const std::string command = argv[o.first];
    const int nargs = argc - o.first - 1;
    char** args = argv + o.first + 1;
    std::vector<std::uint8_t> bytes;
    if (command == "send") {
        for (int k = 0; k < nargs; ++k) bytes.push_back(static_cast<std::uint8_t>(Number(args[k], 0, 255)));
    } else if (command == "sendstr" && nargs == 1) {
        bytes.assign(args[0], args[0] + std::strlen(args[0]));
        bytes.push_back(0);
    } else if (!((command == "recv" && nargs == 1) || (command == "bits" && nargs == 2))) {
        throw UsageError("bad command");
    }

    ticalc::TiCable cable(o.port, o.timeout_tenths);
    if (command == "recv") {
        ReceiveAndPrint(cable, static_cast<std::size_t>(Number(args[0], 0, 1 << 24)), o.stats);
    } else if (command == "bits") {
        cable.SendBits(static_cast<std::uint8_t>(Number(args[0], 0, 255)), static_cast<int>(Number(args[1], 0, 8)));
    } else {
        cable.Send(bytes);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ticalc: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ticalc: %s\n", e.what());
        return 1;
    }
}
