// Holds the CPU's cycles to real time: at `hz`, cycle n runs no earlier than
// n / hz after the start. The emulator runs ahead freely by up to kSlack and
// then sleeps until it is level, waking early when the cable changes (the
// program may be waiting for it); a halted CPU sleeps until its next
// interrupt. Fallen behind (the machine busy), it runs flat out to catch up;
// more than kGiveUp behind, it lets the lost time go, so a program's time
// bounds only ever grow against the wall clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace z80calc {

class Pacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::microseconds kSlack{1000};
    static constexpr std::chrono::microseconds kEarlyWakeLimit{2000};
    static constexpr std::chrono::microseconds kSlice{50};
    static constexpr std::chrono::milliseconds kGiveUp{20};
    static constexpr int kNiceness = -10;

    explicit Pacer(double hz);

    std::uint64_t Cycles() const { return cycles_; }
    void Advance(std::uint64_t tstates) { cycles_ += tstates; }
    // Sleeps while the CPU is ahead of the wall clock by more than kSlack,
    // until it is level or `changed` says the outside moved.
    void Keep(const std::function<bool()>& changed);
    // A halted CPU: sleeps until cycle `cycle` is due, and jumps to it.
    void SleepUntil(std::uint64_t cycle);

    Clock::time_point DueTime(std::uint64_t cycle) const;
    // How often the CPU was found more than kGiveUp behind.
    unsigned Slips() const { return slips_; }

private:
    void CatchUp(Clock::time_point now);

    double hz_;
    Clock::time_point start_;
    std::uint64_t cycles_ = 0;
    unsigned slips_ = 0;
};

}  // namespace z80calc
