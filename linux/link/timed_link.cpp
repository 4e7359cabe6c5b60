#include "timed_link.h"

#include <utility>

namespace nightjar::native {
namespace {

// Reading the wires back to back costs a system call each; the far end's
// answer is usually there within this.
constexpr std::chrono::microseconds kSpinTime{200};
// A change that lands between the last look and the start of the driver's
// wait is only seen at the end of a slice.
constexpr std::chrono::milliseconds kWaitSlice{1};

bool AnyPulled(tty::WireStates in) { return !in.a || !in.b; }

}  // namespace

TimedLink::TimedLink(tty::TtyLines& lines, std::chrono::milliseconds first_answer, std::chrono::milliseconds in_byte)
    : lines_(lines), first_answer_(first_answer), in_byte_(in_byte), xfer_(phase_lines_, [this] { Yield(); })
{
}

void TimedLink::PhaseLines::PutWireAOutput(std::int32_t value)
{
    wire_a_read_with_b_.reset();
    owner_.lines_.PutWireAOutput(value);
    owner_.StartPhase();
}

void TimedLink::PhaseLines::PutWireBOutput(bool released)
{
    wire_a_read_with_b_.reset();
    owner_.lines_.PutWireBOutput(released);
    owner_.StartPhase();
}

bool TimedLink::PhaseLines::WireBInput()
{
    const tty::WireStates in = owner_.lines_.Inputs();
    wire_a_read_with_b_ = in.a;
    return in.b;
}

bool TimedLink::PhaseLines::WireAInput()
{
    if (const std::optional<bool> a = std::exchange(wire_a_read_with_b_, std::nullopt)) return *a;
    return owner_.lines_.WireAInput();
}

void TimedLink::StartPhase()
{
    ++puts_;
    phase_start_ = std::chrono::steady_clock::now();
}

void TimedLink::Yield()
{
    // Time, not a count of polls, ends a start wait here.
    xfer_.WaitCounter = 1;
    const auto waited = std::chrono::steady_clock::now() - phase_start_;
    const bool first_answer = puts_ <= first_answer_puts_;
    const auto limit = first_answer ? first_answer_ : in_byte_;
    if (waited > limit) {
        throw HandshakeTimeout(first_answer ? "no answer from the other end within " + std::to_string(limit.count()) + " ms"
                                            : "the byte was broken off (no next step within " +
                                                  std::to_string(limit.count()) + " ms)");
    }
    if (waited >= kSpinTime) lines_.WaitForChange(kWaitSlice);
}

template <class Call>
auto TimedLink::Guarded(Call call)
{
    try {
        return call();
    } catch (const tty::LineError& error) {
        if (error.DeviceGone()) throw CableGone(error.what());
        throw;
    }
}

// A transfer that stops leaves both wires released and the link waiting for
// idle wires, so that whatever the far end still does of it (a wire held,
// the rest of a byte) never counts as the start of the next one.
template <class Transfer>
auto TimedLink::Framed(int first_answer_puts, Transfer transfer)
{
    return Guarded([&] {
        puts_ = 0;
        first_answer_puts_ = first_answer_puts;
        phase_start_ = std::chrono::steady_clock::now();
        try {
            return transfer();
        } catch (const HandshakeTimeout&) {
            lines_.ReleaseBoth();
            idle_seen_ = !AnyPulled(lines_.Inputs());
            throw;
        }
    });
}

LinkState TimedLink::Look()
{
    return Guarded([&] {
        const tty::WireStates in = lines_.Inputs();
        last_seen_ = in;
        if (!AnyPulled(in)) {
            idle_seen_ = true;
            return LinkState::Idle;
        }
        return idle_seen_ ? LinkState::SenderWaiting : LinkState::Settling;
    });
}

std::uint8_t TimedLink::ReceiveByte()
{
    // The sender's first pull is already there; from our answer on, the
    // byte is under way.
    return Framed(0, [&] { return xfer_.ReceiveByte(); });
}

void TimedLink::SendByte(std::uint8_t value)
{
    Framed(1, [&] {
        if (AnyPulled(lines_.Inputs())) throw HandshakeTimeout("the other end holds a wire: both sent at once");
        idle_seen_ = true;
        xfer_.SendByte(value);
    });
}

void TimedLink::WaitForActivity(std::chrono::milliseconds bound)
{
    // From the wires as last looked at: a pull since then ends the wait at once.
    Guarded([&] { lines_.WaitForChange(bound, last_seen_); });
}

void TimedLink::Interrupt() noexcept { lines_.Interrupt(); }

bool TimedLink::WaitForSender(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const auto spin_until = std::chrono::steady_clock::now() + kSpinTime;
    while (Look() != LinkState::SenderWaiting) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // A sender that goes on with its next byte does so within microseconds.
        if (now < spin_until) continue;
        WaitForActivity(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                        std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace nightjar::native
