// linerate.exe: the raw speed of the link cable's lines through the serial
// line control, as the link drives them (IDispatch by DISPID), with nobody
// answering at the far end. Prints on stdout, one figure a line:
//
//   puts  N/s   line changes: wire A pulled and released, put after put
//   gets  N/s   reads of wire A
//   seen  N/s   line changes each followed by the read that sees it
//
// Usage: linerate PORT [SECONDS]   (PORT 1 to 4, SECONDS per figure, default 1)
//
// A handshaken bit needs four line changes, each seen by the far end, so a
// byte is 32 line changes; bench/run sets the link's bytes per second against
// these figures. The link's two ends work on two processors at once, so it
// can pass "seen" / 32, which is one process doing all the work.
#include <dispatch_lines.h>
#include <line_control.h>
#include <xfer.h>

#include <nj/unique.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>

namespace {

using nightjar::link::kPullWireA;
using nightjar::link::kReleaseWireA;

double Seconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Runs `step` in batches until `seconds` have gone by; returns steps per second.
double Rate(double seconds, const std::function<void()>& step)
{
    constexpr int kBatch = 256;
    const LONGLONG start = Now();
    unsigned long long steps = 0;
    double elapsed = 0;
    do {
        for (int i = 0; i < kBatch; ++i) step();
        steps += kBatch;
        elapsed = Seconds(Now() - start);
    } while (elapsed < seconds);
    return static_cast<double>(steps) / elapsed;
}

int Run(short port, double seconds)
{
    const auto com = nj::CoInitializeApartment();
    Microsoft::WRL::ComPtr<IDispatch> control;
    const HRESULT hr = nightjar::serial::CreateLineControl(IID_PPV_ARGS(&control));
    if (FAILED(hr)) {
        std::fprintf(stderr, "linerate: cannot create the serial line control (0x%08lX)\n",
                     static_cast<unsigned long>(hr));
        return 1;
    }
    nightjar::serial::OpenPort(*control.Get(), port);
    nightjar::serial::DispatchLines lines(control);

    bool pulled = false;
    const double puts = Rate(seconds, [&] {
        pulled = !pulled;
        lines.PutWireAOutput(pulled ? kPullWireA : kReleaseWireA);
    });
    lines.PutWireAOutput(kReleaseWireA);
    pulled = false;

    const double gets = Rate(seconds, [&] { (void)lines.WireAInput(); });

    unsigned long long missed = 0;
    const double seen = Rate(seconds, [&] {
        pulled = !pulled;
        lines.PutWireAOutput(pulled ? kPullWireA : kReleaseWireA);
        if (lines.WireAInput() != !pulled) ++missed;
    });
    lines.PutWireAOutput(kReleaseWireA);

    std::printf("puts %.0f/s\ngets %.0f/s\nseen %.0f/s\n", puts, gets, seen);
    if (missed != 0) {
        std::fprintf(stderr, "linerate: %llu changes were not read back (is the far end pulling wire A?)\n", missed);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: linerate PORT [SECONDS]\n", stderr);
        return 2;
    }
    const long port = std::strtol(argv[1], nullptr, 10);
    const double seconds = argc == 3 ? std::strtod(argv[2], nullptr) : 1.0;
    if (port < 1 || port > 4 || !(seconds > 0 && seconds <= 60)) {
        std::fputs("linerate: PORT is 1 to 4, SECONDS more than 0 and at most 60\n", stderr);
        return 2;
    }
    try {
        return Run(static_cast<short>(port), seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "linerate: %s\n", e.what());
        return 1;
    }
}
