// A cable double whose far end is run by the fuzzer's bytes: it waits a
// chosen number of steps before each of its moves, may stop for good after a
// chosen move, and may make the link misread either wire (a glitch). Its
// pauses are counted in the link's yields, but a move that is due is made at
// whichever read, put or yield of the link comes next, so moves fall between
// any two of the link's reads.
#pragma once

#include "xfer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

namespace fuzzlink {

// A stall the far end caused; thrown out of the yield to end a run that
// would otherwise wait for ever.
struct Stalled {};

struct Event {
    enum Kind : std::uint8_t { ReadA, ReadB, PutA, PutB, Yield } kind;
    bool value;  // what a read returned; for puts, true when released
};

class AdversarialCable : public nightjar::link::Lines {
public:
    enum class Role { Idle, Sender, Receiver };

    struct Options {
        Role role = Role::Idle;
        bool glitches = false;
        bool longDelays = false;   // some moves wait past the start-wait budget
        int stopAfterMoves = -1;   // -1: never stops
        // Yields without a move of the far end after which it counts as
        // stalled: past the longest pause it takes.
        long stallYields = nightjar::link::kStartWaitPolls + 1200;
        // Yields of a one-wire wait (a send or acknowledgement wait, which
        // has no budget) with the far end idle and the wires unchanged,
        // after which nothing can change any more.
        long deadlockYields = 64;
    };

    AdversarialCable(FuzzedDataProvider& data, Options options) : data_(data), options_(options) {}

    void QueueBytes(const std::vector<std::uint8_t>& bytes);

    void PutWireAOutput(std::int32_t value) override;
    void PutWireBOutput(bool released) override;
    bool WireAInput() override;
    bool WireBInput() override;
    void Yield();

    // What the far end took in as a receiver, byte by byte.
    const std::vector<std::uint8_t>& Received() const { return received_; }
    bool SenderDone() const { return sendBits_.empty() && state_ == State::Ready; }
    bool Stopped() const { return stopped_; }
    bool FarHoldsAWire() const { return farAPulled_ || farBPulled_; }
    bool OursReleased() const { return !ourAPulled_ && !ourBPulled_; }
    long Yields() const { return yields_; }
    // The link's calls, kept only while record is set.
    bool record = false;
    std::vector<Event> events;

private:
    enum class State { Ready, AwaitAck, AwaitAckRelease, AwaitSenderRelease };

    bool WireAReleased() const { return !ourAPulled_ && !farAPulled_; }
    bool WireBReleased() const { return !ourBPulled_ && !farBPulled_; }
    bool Glitch();
    bool Deadlocked();
    void NoteRead(bool wireA);
    void Step(bool atYield = false);
    bool MoveDue();
    bool atYield_ = false;
    void Move(bool pullA, bool pullB, State next);
    void StepSender();
    void StepReceiver();
    void TakeBit(bool bit);

    FuzzedDataProvider& data_;
    Options options_;
    bool ourAPulled_ = false, ourBPulled_ = false;
    bool farAPulled_ = false, farBPulled_ = false;
    State state_ = State::Ready;
    std::vector<bool> sendBits_;  // next bit at the back
    bool bitInFlight_ = false;
    int delay_ = -1;  // steps left before the pending move; -1: none drawn
    int moves_ = 0;
    bool stopped_ = false;
    long yields_ = 0;
    long lastMoveYield_ = 0;
    int readsSinceYield_ = 0;
    bool startWaitPoll_ = false;  // the reads since the last yield were B, then A
    unsigned lastWires_ = 0;
    long idleStreak_ = 0;
    unsigned takenBits_ = 0, takenCount_ = 0;
    std::vector<std::uint8_t> received_;
};

}  // namespace fuzzlink
