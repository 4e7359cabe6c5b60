#include "timed_link.h"

#include <sched.h>

namespace nightjar::native {

TimedLink::TimedLink(tty::TtyLines& lines, std::chrono::milliseconds phase_limit)
    : lines_(lines), phase_limit_(phase_limit), xfer_(phase_lines_, [this] { Yield(); })
{
}

void TimedLink::PhaseLines::PutWireAOutput(std::int32_t value)
{
    owner_.lines_.PutWireAOutput(value);
    owner_.StartPhase();
}

void TimedLink::PhaseLines::PutWireBOutput(bool released)
{
    owner_.lines_.PutWireBOutput(released);
    owner_.StartPhase();
}

void TimedLink::StartPhase() { phase_start_ = std::chrono::steady_clock::now(); }

void TimedLink::Yield()
{
    // Time, not a count of polls, ends a start wait here.
    xfer_.WaitCounter = 1;
    const auto waited = std::chrono::steady_clock::now() - phase_start_;
    if (waited > phase_limit_)
        throw HandshakeTimeout("no answer from the other end within " + std::to_string(phase_limit_.count()) + " ms");
    if (waited < kBusyPollTime) {
        sched_yield();
    } else {
        lines_.WaitForChange(std::chrono::milliseconds(1));
    }
}

template <class Transfer>
auto TimedLink::Bounded(Transfer transfer)
{
    StartPhase();
    try {
        return transfer();
    } catch (const HandshakeTimeout&) {
        lines_.ReleaseBoth();
        throw;
    }
}

void TimedLink::SendByte(std::uint8_t value)
{
    Bounded([&] { xfer_.SendByte(value); });
}

std::uint8_t TimedLink::ReceiveByte()
{
    return Bounded([&] { return xfer_.ReceiveByte(); });
}

void TimedLink::SendString(std::u16string text, const link::AnsiCodeOf& ansi_code_of)
{
    Bounded([&] { xfer_.SendString(std::move(text), ansi_code_of); });
}

namespace {

bool AWirePulled(tty::WireStates in) { return !in.a || !in.b; }

}  // namespace

bool TimedLink::SenderWaiting() { return AWirePulled(lines_.Inputs()); }

bool TimedLink::WaitForSender(std::chrono::milliseconds bound)
{
    // A sender that goes on with its next byte does so within microseconds.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + bound;
    for (tty::WireStates in = lines_.Inputs(); !AWirePulled(in); in = lines_.Inputs()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start < kBusyPollTime) {
            sched_yield();
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) return false;
        // From the states just read: a pull since then ends the wait at once.
        lines_.WaitForChange(left, in);
    }
    return true;
}

}  // namespace nightjar::native
