// calcsim: the calculator's end of the link cable, with a keypad and a screen.
//
//   calcsim [--port N] [--log FILE] [--at X Y]
//
// PORT is 1 to 4 (default 2), the far end of the cable from Nightjar's port.
// Every event is printed on stdout as it happens ("calc: sent 52 (play)",
// "calc: now playing: ARTIST - TITLE") and, with --log, appended to FILE.
// --at places the window. Exit status: 0 closed, 1 the port or the link
// failed, 2 bad command line.
//
// One thread: a loop that pumps the window's messages and polls the wires.
// A pulled wire means Nightjar is sending, so a byte is received; otherwise a
// pressed key goes out once the wires are idle. Key presses only queue, so a
// transfer is never started from inside another one's yield.
#include <ansi_code_page.h>
#include <dispatch_lines.h>
#include <line_control.h>
#include <xfer.h>

#include <nj/text.h>
#include <nj/unique.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <string>

#include "calc_window.h"
#include "calculator_end.h"

namespace nightjar::calc {
namespace {

using link::Xfer;

struct Options {
    short port = 2;
    std::wstring log_path;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr char kUsage[] = "usage: calcsim [--port 1-4] [--log FILE] [--at X Y]\n";

// A transfer that has not finished in this time has lost its far end.
constexpr ULONGLONG kByteDeadlineMs = 5000;
// The idle wait between polls of the wires: short enough that the far end's
// first bit is answered at once, long enough to leave the processor alone.
constexpr DWORD kIdleWaitMs = 2;

int ParseInt(const wchar_t* text, int low, int high, const char* what)
{
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (end == text || *end != L'\0' || value < low || value > high)
        throw UsageError(std::string("bad ") + what + " (expected " + std::to_string(low) + " to " +
                         std::to_string(high) + ")");
    return static_cast<int>(value);
}

Options ParseCommandLine(int argc, wchar_t** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const int rest = argc - i - 1;
        if (arg == L"--port" && rest >= 1) {
            options.port = static_cast<short>(ParseInt(argv[++i], 1, 4, "port"));
        } else if (arg == L"--log" && rest >= 1) {
            options.log_path = argv[++i];
        } else if (arg == L"--at" && rest >= 2) {
            options.x = ParseInt(argv[++i], -10000, 10000, "x");
            options.y = ParseInt(argv[++i], -10000, 10000, "y");
        } else {
            throw UsageError("unknown or incomplete option");
        }
    }
    return options;
}

// Event lines, on stdout and in the log file, each flushed as it is written
// so that a script following them sees every event when it happens.
class EventLog {
public:
    explicit EventLog(const std::wstring& path)
    {
        if (!path.empty()) {
            file_ = ::_wfopen(path.c_str(), L"a");
            if (file_ == nullptr) throw std::runtime_error("cannot open the log file");
        }
    }
    ~EventLog()
    {
        if (file_ != nullptr) std::fclose(file_);
    }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void Write(const std::string& event)
    {
        const std::string line = "calc: " + event + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        if (file_ != nullptr) {
            std::fputs(line.c_str(), file_);
            std::fflush(file_);
        }
    }

private:
    FILE* file_ = nullptr;
};

class Simulator {
public:
    Simulator(const Options& options, link::Lines& lines, EventLog& log)
        : options_(options), lines_(lines), log_(log), xfer_(lines, [this] { YieldToLink(); })
    {
    }

    HRESULT Create()
    {
        return window_.Create(
            options_.x, options_.y,
            [this](std::uint8_t byte) {
                if (!keys_.Push(byte)) Report("too many keys waiting; dropped " + std::to_string(byte));
            },
            [this](const std::wstring& text) {
                Report("not a byte: " + nj::text::ToUtf8(text) + " (0-255 or 0x00-0xff)");
            });
    }

    int Run()
    {
        Report("ready on COM" + std::to_string(options_.port));
        while (!quit_) {
            PumpMessages();
            if (quit_) break;
            if (!lines_.WireBInput() || !lines_.WireAInput()) {
                ReceiveOne();
            } else if (const auto byte = keys_.Pop()) {
                SendOne(*byte);
            } else if (!reader_.InProgress()) {
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kIdleWaitMs, QS_ALLINPUT);
            }
        }
        return 0;
    }

private:
    void Report(const std::string& event)
    {
        log_.Write(event);
        window_.ShowStatus(std::wstring(event.begin(), event.end()));
    }

    void PumpMessages()
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_ = true;
                // Nothing waits for a far end once the window is gone.
                xfer_.LinkAborted = link::kTrue;
                return;
            }
            if (window_.Handle() && ::IsDialogMessageW(window_.Handle(), &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    void YieldToLink()
    {
        const ULONGLONG now = ::GetTickCount64();
        if (now > byte_deadline_) xfer_.LinkAborted = link::kTrue;
        switch (ChooseYield(now, last_pump_, xfer_.WaitCounter)) {
        case YieldAction::Pump:
            last_pump_ = now;
            PumpMessages();
            break;
        case YieldAction::Offer:
            ::SwitchToThread();
            break;
        case YieldAction::Sleep:
            ::Sleep(1);
            break;
        }
    }

    // Leaves both wires released after a transfer that broke off, so the far
    // end is not left reading a bit that will never finish.
    void ReleaseWires()
    {
        lines_.PutWireAOutput(link::kReleaseWireA);
        lines_.PutWireBOutput(true);
        xfer_.LinkAborted = link::kFalse;
    }

    void SendOne(std::uint8_t byte)
    {
        xfer_.WaitCounter = 0;
        byte_deadline_ = ::GetTickCount64() + kByteDeadlineMs;
        window_.ShowStatus(L"sending " + std::to_wstring(byte) + L"...");
        xfer_.SendByte(byte);
        byte_deadline_ = kNoDeadline;
        if (xfer_.LinkAborted == link::kTrue) {
            ReleaseWires();
            if (!quit_) Report("link aborted while sending " + std::to_string(byte) + ": no answer from the PC");
            return;
        }
        Report(SentLine(byte));
    }

    void ReceiveOne()
    {
        xfer_.WaitCounter = 0;
        byte_deadline_ = ::GetTickCount64() + kByteDeadlineMs;
        const std::uint8_t byte = xfer_.ReceiveByte();
        byte_deadline_ = kNoDeadline;
        if (xfer_.LinkAborted == link::kTrue) {
            ReleaseWires();
            reader_ = AnnouncementReader{};
            if (!quit_) Report("link aborted while receiving: the PC stopped in the middle of a byte");
            return;
        }
        if (const auto done = reader_.Take(byte)) {
            const std::wstring artist = nj::text::FromAnsi(done->artist), title = nj::text::FromAnsi(done->title);
            window_.ShowTrack(artist, title);
            Report(NowPlayingLine(nj::text::ToUtf8(artist), nj::text::ToUtf8(title)));
        } else if (reader_.InProgress()) {
            window_.ShowStatus(L"receiving...");
        }
    }

    static constexpr ULONGLONG kNoDeadline = ~0ULL;

    const Options& options_;
    link::Lines& lines_;
    EventLog& log_;
    Xfer xfer_;
    CalcWindow window_;
    AnnouncementReader reader_;
    KeyQueue keys_;
    ULONGLONG last_pump_ = 0;
    ULONGLONG byte_deadline_ = kNoDeadline;
    bool quit_ = false;
};

int Run(const Options& options)
{
    const auto com = nj::CoInitializeApartment();
    EventLog log(options.log_path);
    Microsoft::WRL::ComPtr<IDispatch> control;
    const HRESULT hr = serial::CreateLineControl(IID_PPV_ARGS(&control));
    if (FAILED(hr)) throw link::LinkError(hr, "cannot create the serial line control");
    try {
        serial::OpenPort(*control.Get(), options.port);
    } catch (const std::exception& e) {
        log.Write("cannot open COM" + std::to_string(options.port) + ": " + e.what());
        return 1;
    }
    serial::DispatchLines lines(control);
    Simulator simulator(options, lines, log);
    if (FAILED(simulator.Create())) {
        log.Write("cannot create the window");
        return 1;
    }
    return simulator.Run();
}

}  // namespace
}  // namespace nightjar::calc

int wmain(int argc, wchar_t** argv)
{
    try {
        return nightjar::calc::Run(nightjar::calc::ParseCommandLine(argc, argv));
    } catch (const nightjar::calc::UsageError& e) {
        std::fprintf(stderr, "calcsim: %s\n%s", e.what(), nightjar::calc::kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stdout, "calc: failed: %s\n", e.what());
        std::fflush(stdout);
        return 1;
    }
}
