// The black serial cable's link: the platform-free bit handshake (xfer.h) on
// a serial port's modem lines, with every wait bounded in wall-clock time
// and bytes framed from idle wires (calculator_link.h).
//
// Two bounds, because a calculator end answers at two paces. The first
// answer of a byte may take long: a calculator program looks at its link
// port between keys, once per timer tick or less often, and a PC is slow to
// start. Once a byte has begun, the other end goes on within microseconds:
// bench/sender-pace measured libticables2 and our own link at 4-5 us a step
// at the median and 0.14 ms at the most on a loaded machine; Wine's serial
// path (bench/link-compare) and a calculator program with interrupts off at
// 6 MHz stay under a millisecond a step. So every later phase of a byte gets
// kInByteLimit, several hundred times what the slowest end here needs, so
// that a sender descheduled for a while on a busy machine still gets
// through, and still short enough that a glitch (a wire pulled and
// released, as plugging in a cable or switching a calculator on does) is
// dropped long before anyone presses the next key: a key that followed a
// glitch within the bound would complete the glitch's byte.
//
// Inside a phase the wires are read back to back for a moment (the answer
// is usually there within microseconds), then the wait blocks on a change of
// the wires in short slices, never sleeping for a fixed time.
#pragma once

#include <xfer.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "calculator_link.h"
#include "tty_lines.h"

namespace nightjar::native {

inline constexpr std::chrono::milliseconds kPhaseLimit{1500};
inline constexpr std::chrono::milliseconds kInByteLimit{100};

class TimedLink final : public CalculatorLink {
public:
    explicit TimedLink(tty::TtyLines& lines, std::chrono::milliseconds first_answer = kPhaseLimit,
                       std::chrono::milliseconds in_byte = kInByteLimit);
    TimedLink(const TimedLink&) = delete;
    TimedLink& operator=(const TimedLink&) = delete;

    LinkState Look() override;
    std::uint8_t ReceiveByte() override;
    void SendByte(std::uint8_t value) override;
    void WaitForActivity(std::chrono::milliseconds bound) override;
    void Interrupt() noexcept override;

    // Waits up to `bound` for the far end to begin a byte; false if it did not.
    bool WaitForSender(std::chrono::milliseconds bound);

    tty::TtyLines& lines() noexcept { return lines_; }

private:
    // The wires as the link sees them: every put starts a new phase.
    class PhaseLines : public link::Lines {
    public:
        explicit PhaseLines(TimedLink& owner) : owner_(owner) {}
        void PutWireAOutput(std::int32_t value) override;
        void PutWireBOutput(bool released) override;
        bool WireAInput() override;
        bool WireBInput() override;

    private:
        TimedLink& owner_;
        // The link's start wait reads wire B, then wire A: one read of both
        // serves the pair, halving the system calls of a receiver's polls.
        std::optional<bool> wire_a_read_with_b_;
    };

    template <class Transfer> auto Framed(int first_answer_puts, Transfer transfer);
    template <class Call> auto Guarded(Call call);
    void StartPhase();
    void Yield();

    tty::TtyLines& lines_;
    std::chrono::milliseconds first_answer_;
    std::chrono::milliseconds in_byte_;
    PhaseLines phase_lines_{*this};
    link::Xfer xfer_;
    std::chrono::steady_clock::time_point phase_start_;
    int puts_ = 0;               // of the byte under way
    int first_answer_puts_ = 0;  // the phases up to this many puts wait for the first answer
    // The wires were idle since the last dropped transfer. A wire already
    // pulled at the start is taken for a sender's first pull: at worst that
    // costs one dropped byte.
    bool idle_seen_ = true;
    tty::WireStates last_seen_;  // by Look
};

}  // namespace nightjar::native
