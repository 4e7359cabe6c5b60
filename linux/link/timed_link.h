// The platform-free link (xfer.h) on a serial port, with its waits bounded in
// time: each handshake phase (from one change of our wires to the next) gives
// up after a limit, as libticables2 does, and the transfer under way ends with
// HandshakeTimeout and both wires released, ready for the next one. No poll
// budget: a byte's start wait is bounded by the same clock.
//
// Inside a phase the wires are polled back to back for a short while (the far
// end usually answers within microseconds), then the wait blocks on a change
// of the wires, so a slow or silent far end costs no processor.
#pragma once

#include <xfer.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tty_lines.h"

namespace nightjar::native {

inline constexpr std::chrono::milliseconds kPhaseLimit{1500};
inline constexpr std::chrono::microseconds kBusyPollTime{2000};

class HandshakeTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TimedLink {
public:
    explicit TimedLink(tty::TtyLines& lines, std::chrono::milliseconds phase_limit = kPhaseLimit);
    TimedLink(const TimedLink&) = delete;
    TimedLink& operator=(const TimedLink&) = delete;

    // Each throws HandshakeTimeout, or tty::LineError when the port fails.
    void SendByte(std::uint8_t value);
    std::uint8_t ReceiveByte();
    void SendString(std::u16string text, const link::AnsiCodeOf& ansi_code_of);

    // True once the far end has pulled a wire: a byte is on its way.
    bool SenderWaiting();
    // Waits up to `bound` for the far end to start a byte; false if it did not.
    bool WaitForSender(std::chrono::milliseconds bound);

    tty::TtyLines& lines() noexcept { return lines_; }

private:
    // The wires as the link sees them: every put starts a new phase.
    class PhaseLines : public link::Lines {
    public:
        PhaseLines(TimedLink& owner) : owner_(owner) {}
        void PutWireAOutput(std::int32_t value) override;
        void PutWireBOutput(bool released) override;
        bool WireAInput() override { return owner_.lines_.WireAInput(); }
        bool WireBInput() override { return owner_.lines_.WireBInput(); }

    private:
        TimedLink& owner_;
    };

    template <class Transfer> auto Bounded(Transfer transfer);
    void StartPhase();
    void Yield();

    tty::TtyLines& lines_;
    std::chrono::milliseconds phase_limit_;
    PhaseLines phase_lines_{*this};
    link::Xfer xfer_;
    std::chrono::steady_clock::time_point phase_start_;
};

}  // namespace nightjar::native
