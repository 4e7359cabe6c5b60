#include "pacer.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <thread>

namespace z80calc {

Pacer::Pacer(double hz) : hz_(hz), start_(Clock::now())
{
    // Sleeps of tens of microseconds must not be rounded up to the default 50.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    // The calculator has a processor of its own: on a busy machine the
    // emulator asks for a larger share than the programs around it, where it
    // may (as root); elsewhere it runs as it is.
    setpriority(PRIO_PROCESS, 0, kNiceness);
}

Pacer::Clock::time_point Pacer::DueTime(std::uint64_t cycle) const
{
    return start_ + std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(cycle) * 1e9 / hz_));
}

void Pacer::CatchUp(Clock::time_point now)
{
    const auto behind = now - DueTime(cycles_);
    if (behind > kGiveUp) {
        start_ += behind;
        ++slips_;
    }
}

void Pacer::Keep(const std::function<bool()>& changed)
{
    auto now = Clock::now();
    const auto due = DueTime(cycles_);
    if (due - now <= kSlack) return CatchUp(now);
    while (now < due) {
        if (due - now < kEarlyWakeLimit && changed()) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, due - now));
        now = Clock::now();
    }
}

void Pacer::SleepUntil(std::uint64_t cycle)
{
    if (cycle > cycles_) cycles_ = cycle;
    std::this_thread::sleep_until(DueTime(cycles_));
    CatchUp(Clock::now());
}

}  // namespace z80calc
