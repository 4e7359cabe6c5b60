#include "tty_lines.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <unistd.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <mutex>

namespace nightjar::tty {
namespace {

constexpr int kInputLines = TIOCM_CTS | TIOCM_DSR;
constexpr std::chrono::milliseconds kModemWaitSlice{50};
constexpr std::int32_t kLineFailure = static_cast<std::int32_t>(0x80004005U);  // E_FAIL

// The signal that ends a blocked TIOCMIWAIT: installed without SA_RESTART, so
// the wait returns EINTR, and with a handler that does nothing else.
int WakeSignal() { return SIGRTMIN + 2; }

void InstallWakeHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sigaction(WakeSignal(), &sa, nullptr);
    });
}

// A timer that sends the wake signal to the calling thread after `bound`,
// and every `bound` after that: one delivered just before the thread enters
// its wait is followed by another, so the wait cannot outlive its bound by
// more than that.
class WakeTimer {
public:
    explicit WakeTimer(std::chrono::milliseconds bound)
    {
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = WakeSignal();
        event._sigev_un._tid = gettid();  // sigev_notify_thread_id, which this glibc does not name
        if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) throw LineError(errno, "timer_create");
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(bound).count();
        const timespec period{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        const itimerspec schedule{period, period};
        timer_settime(timer_, 0, &schedule, nullptr);
    }
    ~WakeTimer() { timer_delete(timer_); }
    WakeTimer(const WakeTimer&) = delete;
    WakeTimer& operator=(const WakeTimer&) = delete;

private:
    timer_t timer_{};
};

// What a descriptor answers to a modem-line call it has no lines for.
bool IsNotSerial(int error) { return error == ENOTTY || error == EINVAL; }

OpenError OpenFailed(const std::string& path, int error)
{
    const std::string reason = std::strerror(error);
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return OpenError(OpenFailure::NotFound, path + ": no such device");
    case EACCES:
    case EPERM: return OpenError(OpenFailure::Permission, path + ": permission denied");
    case EBUSY: return OpenError(OpenFailure::Busy, path + ": in use by another program");
    default: return OpenError(IsNotSerial(error) ? OpenFailure::NotSerial : OpenFailure::Other, path + ": " + reason);
    }
}

}  // namespace

LineError::LineError(int error, const std::string& what)
    : link::LinkError(kLineFailure, what + ": " + std::strerror(error)), error_(error)
{
}

bool LineError::DeviceGone() const noexcept
{
    return error_ == EIO || error_ == ENODEV || error_ == ENXIO || error_ == EBADF;
}

std::unique_ptr<TtyLines> TtyLines::Open(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw OpenFailed(path, errno);
    if (!::isatty(fd.get())) throw OpenError(OpenFailure::NotSerial, path + ": not a serial port");
    int bits = 0;
    if (::ioctl(fd.get(), TIOCMGET, &bits) != 0) {
        const int error = errno;
        if (IsNotSerial(error)) throw OpenError(OpenFailure::NotSerial, path + ": not a serial port (no modem lines)");
        throw OpenFailed(path, error);
    }
    // Another program driving the same wires would garble both links.
    if (::ioctl(fd.get(), TIOCEXCL) != 0) throw OpenFailed(path, errno);
    auto lines = std::make_unique<TtyLines>(std::move(fd), path);
    lines->ReleaseBoth();
    return lines;
}

TtyLines::TtyLines(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path))
{
    InstallWakeHandler();
}

TtyLines::~TtyLines()
{
    // A pty stays exclusive after we close it while another process holds it.
    ::ioctl(fd_.get(), TIOCNXCL);
}

int TtyLines::ModemBits()
{
    int bits = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0) throw LineError(errno, path_ + ": reading the wires");
    return bits;
}

void TtyLines::SetLine(int line, bool asserted)
{
    // One line at a time, so the other output is never written back stale.
    if (::ioctl(fd_.get(), asserted ? TIOCMBIS : TIOCMBIC, &line) != 0)
        throw LineError(errno, path_ + ": setting a wire");
}

void TtyLines::PutWireAOutput(std::int32_t value) { SetLine(TIOCM_RTS, value == link::kReleaseWireA); }
void TtyLines::PutWireBOutput(bool released) { SetLine(TIOCM_DTR, released); }
bool TtyLines::WireAInput() { return (ModemBits() & TIOCM_CTS) != 0; }
bool TtyLines::WireBInput() { return (ModemBits() & TIOCM_DSR) != 0; }

WireStates TtyLines::Inputs()
{
    const int bits = ModemBits();
    return {(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0};
}

WireStates TtyLines::Outputs()
{
    const int bits = ModemBits();
    return {(bits & TIOCM_RTS) != 0, (bits & TIOCM_DTR) != 0};
}

void TtyLines::ReleaseBoth()
{
    SetLine(TIOCM_RTS, true);
    SetLine(TIOCM_DTR, true);
}

WaitResult TtyLines::WaitForChange(std::chrono::milliseconds bound) { return WaitForChange(bound, Inputs()); }

WaitResult TtyLines::WaitForChange(std::chrono::milliseconds bound, WireStates start)
{
    // TIOCMIWAIT waits for a change after it is entered: one between our
    // last look and the call is seen only at the end of the slice, so the
    // slices are kept short, and the wires looked at between them.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (interrupt_.exchange(false)) return WaitResult::Interrupted;
        if (Inputs() != start) return WaitResult::Changed;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return WaitResult::TimedOut;
        const auto slice = std::min(left, kModemWaitSlice);
        const WaitResult result = modem_wait_ ? WaitInDriver(slice, start) : WaitByPolling(slice, start);
        if (result != WaitResult::TimedOut) return result;
    }
}

WaitResult TtyLines::WaitInDriver(std::chrono::milliseconds bound, WireStates start)
{
    int result;
    int error;
    {
        const WakeTimer timer(bound);
        waiter_.store(pthread_self());
        waiting_.store(true);
        result = interrupt_.load() ? -1 : ::ioctl(fd_.get(), TIOCMIWAIT, kInputLines);
        error = result == 0 ? 0 : (interrupt_.load() ? EINTR : errno);
        waiting_.store(false);
    }
    if (result == 0) return WaitResult::Changed;
    if (IsNotSerial(error)) {
        modem_wait_ = false;  // the driver has no TIOCMIWAIT: poll from now on
        return WaitResult::TimedOut;
    }
    if (error != EINTR) throw LineError(error, path_ + ": waiting for the wires");
    if (interrupt_.exchange(false)) return WaitResult::Interrupted;
    return Inputs() == start ? WaitResult::TimedOut : WaitResult::Changed;
}

WaitResult TtyLines::WaitByPolling(std::chrono::milliseconds bound, WireStates start)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const timespec one_ms{0, 1'000'000};
    while (std::chrono::steady_clock::now() < deadline) {
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &one_ms, nullptr);
        if (interrupt_.exchange(false)) return WaitResult::Interrupted;
        if (Inputs() != start) return WaitResult::Changed;
    }
    return WaitResult::TimedOut;
}

void TtyLines::Interrupt() noexcept
{
    interrupt_.store(true);
    if (waiting_.load()) pthread_kill(waiter_.load(), WakeSignal());
}

}  // namespace nightjar::tty
