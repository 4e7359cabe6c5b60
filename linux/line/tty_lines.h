// The link's wires on a POSIX serial port: the cable's two wires ride on the
// modem-control lines, RTS driving wire A and DTR wire B, CTS reading wire A
// and DSR wire B; a line asserted is a wire released. This is how the
// libticables2 serial cable drives them, and how the virtual cable
// (sim/vcable) answers.
#pragma once

#include <xfer.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <pthread.h>
#include <string>

#include "unique_fd.h"

namespace nightjar::tty {

// Why a device could not be used, in the words a user needs.
enum class OpenFailure { NotFound, Permission, Busy, NotSerial, Other };

class OpenError : public std::runtime_error {
public:
    OpenError(OpenFailure failure, const std::string& what) : std::runtime_error(what), failure_(failure) {}
    OpenFailure failure() const noexcept { return failure_; }

private:
    OpenFailure failure_;
};

// A modem-line call that failed. DeviceGone: the port went away under us
// (a USB adapter pulled out), as opposed to a call the port refuses.
class LineError : public link::LinkError {
public:
    LineError(int error, const std::string& what);
    int error() const noexcept { return error_; }
    bool DeviceGone() const noexcept;

private:
    int error_;
};

// Both wires as read at one moment; true while released.
struct WireStates {
    bool a = true;
    bool b = true;
    bool operator==(const WireStates&) const = default;
};

enum class WaitResult { Changed, TimedOut, Interrupted };

class TtyLines final : public link::Lines {
public:
    // Opens the device for the link (exclusively, releasing both wires).
    // Throws OpenError.
    static std::unique_ptr<TtyLines> Open(const std::string& path);

    TtyLines(UniqueFd fd, std::string path);
    ~TtyLines() override;
    TtyLines(const TtyLines&) = delete;
    TtyLines& operator=(const TtyLines&) = delete;

    void PutWireAOutput(std::int32_t value) override;
    void PutWireBOutput(bool released) override;
    bool WireAInput() override;
    bool WireBInput() override;

    WireStates Inputs();
    // What this end drives (true: released).
    WireStates Outputs();
    void ReleaseBoth();

    // Waits until a wire's input changes, at most about `bound` (up to twice
    // it when the machine is slow to deliver the timer), or until Interrupt.
    // Blocks in TIOCMIWAIT where the driver has it and polls every
    // millisecond where it does not. Call it from one thread at a time.
    WaitResult WaitForChange(std::chrono::milliseconds bound);
    // The same, from the given wire states: returns at once when the inputs
    // already differ from them, so a change between the caller's last look
    // and the wait is not missed.
    WaitResult WaitForChange(std::chrono::milliseconds bound, WireStates from);
    // Ends a WaitForChange under way, or the next one; any thread, and
    // async-signal-safe.
    void Interrupt() noexcept;

    bool HasModemWait() const noexcept { return modem_wait_; }
    const std::string& path() const noexcept { return path_; }

private:
    int ModemBits();
    void SetLine(int line, bool asserted);
    WaitResult WaitInDriver(std::chrono::milliseconds bound, WireStates start);
    WaitResult WaitByPolling(std::chrono::milliseconds bound, WireStates start);

    UniqueFd fd_;
    std::string path_;
    bool modem_wait_ = true;
    std::atomic<bool> interrupt_{false};
    std::atomic<bool> waiting_{false};
    std::atomic<pthread_t> waiter_{};
};

}  // namespace nightjar::tty
