// linkcat: a calculator's end of the link cable, on the command line.
//
//   linkcat [OPTIONS] PORT send B1 B2 ...   send bytes given in decimal
//   linkcat [OPTIONS] PORT sendstr TEXT     send TEXT and its 0 terminator
//   linkcat [OPTIONS] PORT recv N           receive N bytes, print them in decimal
//   linkcat [OPTIONS] PORT lines            watch both wires, pull them by key
//
// OPTIONS, anywhere on the line (and none after "--"): --timeout SECONDS
// bounds the whole run; --stats reports on stderr how long the transfer
// took, from its first bit on (for bench/).
// PORT is 1 to 4. The link runs over the serial line control, exactly as
// Nightjar drives it. Exit status: 0 done, 1 failed, 2 bad command line,
// 3 out of time.
#include <ansi_code_page.h>
#include <dispatch_lines.h>
#include <line_control.h>
#include <xfer.h>

#include "lines_watch.h"

#include <nj/text.h>
#include <nj/unique.h>

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nightjar::link::LinkError;
using nightjar::link::Xfer;

enum class Command { Send, SendString, Receive, Lines };

struct Options {
    std::optional<ULONGLONG> timeout_ms;
    bool stats = false;
    short port = 0;
    Command command = Command::Send;
    std::vector<std::uint8_t> bytes;  // send
    std::u16string text;              // sendstr
    unsigned long count = 0;          // recv
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OutOfTime : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr char kUsage[] =
    "usage: linkcat [--timeout SECONDS] [--stats] PORT send B1 B2 ...\n"
    "       linkcat [--timeout SECONDS] [--stats] PORT sendstr TEXT\n"
    "       linkcat [--timeout SECONDS] [--stats] PORT recv N\n"
    "       linkcat [--timeout SECONDS] PORT lines\n";

// A whole decimal number in [low, high], nothing else.
unsigned long ParseNumber(const wchar_t* text, unsigned long low, unsigned long high, const char* what)
{
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long value = *text >= L'0' && *text <= L'9' ? std::wcstoul(text, &end, 10) : 0;
    if (end == nullptr || *end != L'\0' || errno != 0 || value < low || value > high)
        throw UsageError(std::string("bad ") + what + ": " + nj::text::ToUtf8(text) + " (expected " +
                         std::to_string(low) + " to " + std::to_string(high) + ")");
    return value;
}

// Options go anywhere; "--" ends them, so that a TEXT may start with "--".
std::vector<std::wstring> TakeOptions(int argc, wchar_t** argv, Options& options)
{
    std::vector<std::wstring> words;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (options_done || arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            words.push_back(arg);
        } else if (arg == L"--") {
            options_done = true;
        } else if (arg == L"--timeout") {
            if (i + 1 >= argc) throw UsageError("--timeout needs a number of seconds");
            options.timeout_ms = 1000ULL * ParseNumber(argv[++i], 1, 86400, "timeout");
        } else if (arg == L"--stats") {
            options.stats = true;
        } else {
            throw UsageError("unknown option: " + nj::text::ToUtf8(arg));
        }
    }
    return words;
}

Options ParseCommandLine(int argc, wchar_t** argv)
{
    Options options;
    const std::vector<std::wstring> words = TakeOptions(argc, argv, options);
    if (words.size() < 2) throw UsageError("missing PORT or command");
    options.port = static_cast<short>(ParseNumber(words[0].c_str(), 1, 4, "port"));
    const std::wstring& command = words[1];
    const size_t rest = words.size() - 2;
    if (command == L"send") {
        if (rest < 1) throw UsageError("send: no bytes given");
        options.command = Command::Send;
        for (size_t i = 2; i < words.size(); ++i)
            options.bytes.push_back(static_cast<std::uint8_t>(ParseNumber(words[i].c_str(), 0, 255, "byte")));
    } else if (command == L"sendstr") {
        if (rest != 1) throw UsageError("sendstr takes one TEXT");
        options.command = Command::SendString;
        for (wchar_t ch : words[2]) options.text += static_cast<char16_t>(ch);
    } else if (command == L"recv") {
        if (rest != 1) throw UsageError("recv takes one count");
        options.command = Command::Receive;
        options.count = ParseNumber(words[2].c_str(), 1, 1UL << 20, "count");
    } else if (command == L"lines") {
        if (rest != 0) throw UsageError("lines takes nothing more");
        options.command = Command::Lines;
    } else {
        throw UsageError("unknown command: " + nj::text::ToUtf8(command));
    }
    return options;
}

// linkcat has no windows, so its yield to the message queue can be cheap:
// under Wine every look at the queue is a round trip to the server (10 to 40
// microseconds here, ten times a poll of the lines), so the queue is pumped
// at most once per millisecond and the other yields only offer the processor
// to the far end.
//
// A cheap yield also shortens the receiver's start wait, whose budget is a
// count of polls: at a microsecond or two a poll it would give up after
// 10-20 ms, less than a busy machine may keep the far end off the processor.
// Once a start wait has gone on for a while the yield therefore sleeps,
// which stretches the same budget to seconds.
//
// The yield also bounds the run.
class MessagePump {
public:
    explicit MessagePump(std::optional<ULONGLONG> timeout_ms)
        : deadline_(timeout_ms ? ::GetTickCount64() + *timeout_ms : 0), timeout_ms_(timeout_ms.value_or(0))
    {
    }

    // The poll count of the link's start wait, once the link exists.
    void WatchStartWait(const std::int32_t* wait_counter) noexcept { wait_counter_ = wait_counter; }

    void operator()()
    {
        ++yields_;
        const ULONGLONG now = ::GetTickCount64();
        if (now != last_pump_) {
            last_pump_ = now;
            ++pumps_;
            Pump();
            if (deadline_ != 0 && now > deadline_)
                throw OutOfTime("timed out after " + std::to_string(timeout_ms_ / 1000) + " s");
        } else if (wait_counter_ != nullptr && *wait_counter_ > kPatientPolls) {
            ::Sleep(1);
        } else {
            ::SwitchToThread();
        }
    }

    unsigned long long yields() const noexcept { return yields_; }
    unsigned long long pumps() const noexcept { return pumps_; }

private:
    static void Pump()
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    ULONGLONG deadline_;
    ULONGLONG timeout_ms_;
    // Polls of a start wait before the yield sleeps: a few milliseconds.
    static constexpr std::int32_t kPatientPolls = 5000;

    ULONGLONG last_pump_ = 0;
    const std::int32_t* wait_counter_ = nullptr;
    unsigned long long yields_ = 0;
    unsigned long long pumps_ = 0;
};

// Times a transfer from its first bit to its last.
class Stopwatch {
public:
    void Start()
    {
        if (start_.QuadPart == 0) ::QueryPerformanceCounter(&start_);
    }
    void Stop() { ::QueryPerformanceCounter(&stop_); }
    void Report(size_t bytes, const MessagePump& yield) const
    {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        const double seconds = static_cast<double>(stop_.QuadPart - start_.QuadPart) / frequency.QuadPart;
        std::fprintf(stderr, "linkcat: %zu bytes in %.4f s, %.0f bytes/s, %llu yields, %llu pumps\n", bytes,
                     seconds, seconds > 0 ? bytes / seconds : 0.0, yield.yields(), yield.pumps());
    }

private:
    LARGE_INTEGER start_{};
    LARGE_INTEGER stop_{};
};

void CheckNotAborted(const Xfer& xfer, size_t done)
{
    if (xfer.LinkAborted == nightjar::link::kTrue)
        throw std::runtime_error("the link aborted after " + std::to_string(done) +
                                 " byte(s): the far end stopped in the middle of a byte");
}

// Returns the bytes as the line to print.
std::string Receive(nightjar::link::Lines& lines, Xfer& xfer, MessagePump& yield, unsigned long count,
                    Stopwatch& stopwatch)
{
    std::string line;
    for (unsigned long n = 0; n < count; ++n) {
        // As Nightjar's main loop does: a byte starts when either wire is pulled.
        while (lines.WireBInput() && lines.WireAInput()) yield();
        stopwatch.Start();
        const unsigned value = xfer.ReceiveByte();
        CheckNotAborted(xfer, n);
        if (!line.empty()) line += ' ';
        line += std::to_string(value);
    }
    return line;
}

int Run(const Options& options)
{
    const auto com = nj::CoInitializeApartment();
    Microsoft::WRL::ComPtr<IDispatch> control;
    const HRESULT hr = nightjar::serial::CreateLineControl(IID_PPV_ARGS(&control));
    if (FAILED(hr)) throw LinkError(hr, "cannot create the serial line control");
    nightjar::serial::OpenPort(*control.Get(), options.port);

    nightjar::serial::DispatchLines lines(control);
    if (options.command == Command::Lines) return linkcat::WatchLines(lines, options.timeout_ms);
    MessagePump yield(options.timeout_ms);
    Xfer xfer(lines, [&yield] { yield(); });
    yield.WatchStartWait(&xfer.WaitCounter);
    Stopwatch stopwatch;
    size_t bytes = 0;
    std::string received;
    switch (options.command) {
    case Command::Send:
        stopwatch.Start();
        for (const std::uint8_t& byte : options.bytes) xfer.SendByte(byte);
        bytes = options.bytes.size();
        break;
    case Command::SendString:
        stopwatch.Start();
        xfer.SendString(options.text, nightjar::link::SystemAnsiCodeOf);
        bytes = options.text.size() + 1;
        break;
    case Command::Receive:
        received = Receive(lines, xfer, yield, options.count, stopwatch);
        bytes = options.count;
        break;
    case Command::Lines:
        break;
    }
    stopwatch.Stop();
    if (options.command == Command::Receive) std::printf("%s\n", received.c_str());
    if (options.stats) stopwatch.Report(bytes, yield);
    return 0;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) {
        std::fputs("linkcat: cannot read the command line\n", stderr);
        return 1;
    }
    const nj::scope_exit free_argv([argv] { ::LocalFree(argv); });
    try {
        return Run(ParseCommandLine(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "linkcat: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const OutOfTime& e) {
        std::fprintf(stderr, "linkcat: %s\n", e.what());
        return 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "linkcat: %s\n", e.what());
        return 1;
    }
}
