#include "adversarial_cable.h"

#include <algorithm>

namespace fuzzlink {
namespace {

// A pause in yields that outlasts the start wait's budget.
constexpr int kBeyondBudget = nightjar::link::kStartWaitPolls + 100;

}  // namespace

void AdversarialCable::QueueBytes(const std::vector<std::uint8_t>& bytes)
{
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
        for (int i = 7; i >= 0; --i) sendBits_.push_back(((*it >> i) & 1) != 0);
    }
}

void AdversarialCable::PutWireAOutput(std::int32_t value)
{
    ourAPulled_ = value == nightjar::link::kPullWireA;
    if (record) events.push_back({Event::PutA, !ourAPulled_});
    Step();
}

void AdversarialCable::PutWireBOutput(bool released)
{
    ourBPulled_ = !released;
    if (record) events.push_back({Event::PutB, released});
    Step();
}

bool AdversarialCable::WireAInput()
{
    NoteRead(true);
    Step();
    const bool value = WireAReleased() != Glitch();
    if (record) events.push_back({Event::ReadA, value});
    return value;
}

bool AdversarialCable::WireBInput()
{
    NoteRead(false);
    Step();
    const bool value = WireBReleased() != Glitch();
    if (record) events.push_back({Event::ReadB, value});
    return value;
}

void AdversarialCable::Yield()
{
    if (record) events.push_back({Event::Yield, false});
    if (++yields_ - lastMoveYield_ > options_.stallYields || Deadlocked()) throw Stalled{};
    readsSinceYield_ = 0;
    Step(true);
}

void AdversarialCable::NoteRead(bool wireA)
{
    startWaitPoll_ = wireA ? (readsSinceYield_ == 1 && startWaitPoll_) : readsSinceYield_ == 0;
    ++readsSinceYield_;
}

// The far end waits for a change that only this end can make, this end
// waits in a wait without a budget, and the wires stay as they are.
bool AdversarialCable::Deadlocked()
{
    const unsigned wires = (ourAPulled_ ? 1U : 0U) | (ourBPulled_ ? 2U : 0U) | (farAPulled_ ? 4U : 0U) |
                           (farBPulled_ ? 8U : 0U);
    const bool farIdle = stopped_ || options_.role == Role::Idle || delay_ < 0;
    const bool oneWireWait = readsSinceYield_ == 1 || (readsSinceYield_ == 2 && !startWaitPoll_);
    if (farIdle && oneWireWait && wires == lastWires_) {
        ++idleStreak_;
    } else {
        idleStreak_ = 0;
    }
    lastWires_ = wires;
    return idleStreak_ > options_.deadlockYields;
}

bool AdversarialCable::Glitch()
{
    return options_.glitches && data_.remaining_bytes() > 0 && data_.ConsumeIntegral<std::uint8_t>() < 8;
}

void AdversarialCable::Step(bool atYield)
{
    atYield_ = atYield;
    if (stopped_) return;
    if (options_.role == Role::Sender) StepSender();
    if (options_.role == Role::Receiver) StepReceiver();
}

// Draws the far end's pause before its next move the first time the move
// could be made, then counts it down.
bool AdversarialCable::MoveDue()
{
    if (delay_ < 0) {
        const std::uint8_t b = data_.ConsumeIntegral<std::uint8_t>();
        delay_ = (options_.longDelays && b == 0xFF) ? kBeyondBudget : b % 16;
    }
    if (delay_ > 0) {
        if (atYield_) --delay_;
        return false;
    }
    delay_ = -1;
    return true;
}

void AdversarialCable::Move(bool pullA, bool pullB, State next)
{
    farAPulled_ = pullA;
    farBPulled_ = pullB;
    state_ = next;
    lastMoveYield_ = yields_;
    if (options_.stopAfterMoves >= 0 && ++moves_ >= options_.stopAfterMoves) stopped_ = true;
}

// The four phases of a bit, as the end that sends it.
void AdversarialCable::StepSender()
{
    switch (state_) {
    case State::Ready:
        if (sendBits_.empty() || !MoveDue()) return;
        bitInFlight_ = sendBits_.back();
        sendBits_.pop_back();
        Move(!bitInFlight_, bitInFlight_, State::AwaitAck);
        return;
    case State::AwaitAck:
        if ((bitInFlight_ ? WireAReleased() : WireBReleased()) || !MoveDue()) return;
        Move(false, false, State::AwaitAckRelease);
        return;
    case State::AwaitAckRelease:
        if (!(bitInFlight_ ? WireAReleased() : WireBReleased())) return;
        state_ = State::Ready;
        return;
    case State::AwaitSenderRelease:
        return;
    }
}

// The four phases of a bit, as the end that receives it; wire A decides
// when both are pulled.
void AdversarialCable::StepReceiver()
{
    switch (state_) {
    case State::Ready:
        if (WireAReleased() && WireBReleased()) return;
        if (!MoveDue()) return;
        bitInFlight_ = WireAReleased();
        Move(bitInFlight_, !bitInFlight_, State::AwaitSenderRelease);
        return;
    case State::AwaitSenderRelease:
        if (!(bitInFlight_ ? WireBReleased() : WireAReleased()) || !MoveDue()) return;
        Move(false, false, State::Ready);
        TakeBit(bitInFlight_);
        return;
    case State::AwaitAck:
    case State::AwaitAckRelease:
        return;
    }
}

void AdversarialCable::TakeBit(bool bit)
{
    if (bit) takenBits_ |= 1U << takenCount_;
    if (++takenCount_ == 8) {
        received_.push_back(static_cast<std::uint8_t>(takenBits_));
        takenBits_ = takenCount_ = 0;
    }
}

}  // namespace fuzzlink
