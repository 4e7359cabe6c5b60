// Runs the link against the adversarial cable and checks what must hold
// whatever the far end does: no crash or undefined behaviour, exact bytes
// with a far end that keeps to the handshake, a wait that ends once the far
// end moves or the start-wait budget runs out, and the aborted state's rules.
#include "adversarial_cable.h"
#include "xfer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using fuzzlink::AdversarialCable;
using fuzzlink::Event;
using nightjar::link::kTrue;
using nightjar::link::LinkError;
using nightjar::link::Xfer;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "link invariant broken: %s\n", what);
    std::abort();
}

void Expect(bool ok, const char* what)
{
    if (!ok) Fail(what);
}

enum class Job { Receive, Send, SendString, Collide };

struct Run {
    Job job;
    AdversarialCable::Options options;
    bool startAborted;
    std::vector<std::uint8_t> payload;
    std::u16string text;
};

Run DrawRun(FuzzedDataProvider& data)
{
    Run run{};
    run.job = static_cast<Job>(data.ConsumeIntegralInRange<int>(0, 3));
    const std::uint8_t flags = data.ConsumeIntegral<std::uint8_t>();
    run.options.glitches = (flags & 1) != 0;
    run.options.longDelays = (flags & 2) != 0;
    run.startAborted = (flags & 0x0C) == 0x0C;
    if ((flags & 0x30) == 0x30) run.options.stopAfterMoves = data.ConsumeIntegralInRange<int>(0, 60);
    run.options.role = run.job == Job::Receive || run.job == Job::Collide ? AdversarialCable::Role::Sender
                                                                         : AdversarialCable::Role::Receiver;
    const int count = data.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 0; i < count; ++i) run.payload.push_back(data.ConsumeIntegral<std::uint8_t>());
    if (run.job == Job::SendString) {
        for (int i = 0; i < count; ++i) {
            const bool wide = data.ConsumeIntegral<std::uint8_t>() >= 0xF0;
            run.text.push_back(wide ? static_cast<char16_t>(0x100 + run.payload[i]) : run.payload[i]);
        }
    }
    return run;
}

bool WellBehaved(const Run& run)
{
    return !run.options.glitches && run.options.stopAfterMoves < 0 && run.job != Job::Collide;
}

// Once aborted, a bit reads each input once per wait and never yields:
// receiving is B, A, A, put, read, put, the puts chosen by that last read of A;
// sending is put, read, put, read.
void CheckAbortedBits(const std::vector<Event>& ev, std::size_t from, bool receiving, std::uint8_t result)
{
    std::size_t i = from;
    for (int bit = 0; bit < 8; ++bit) {
        if (receiving) {
            Expect(i + 6 <= ev.size(), "aborted receive made too few calls");
            Expect(ev[i].kind == Event::ReadB && ev[i + 1].kind == Event::ReadA && ev[i + 2].kind == Event::ReadA,
                   "aborted receive does not read B, A, A");
            const bool one = ev[i + 2].value;
            const Event::Kind put = one ? Event::PutA : Event::PutB;
            Expect(ev[i + 3].kind == put && !ev[i + 3].value, "aborted receive does not pull the answering wire");
            Expect(ev[i + 4].kind == (one ? Event::ReadB : Event::ReadA), "aborted receive waits on the wrong wire");
            Expect(ev[i + 5].kind == put && ev[i + 5].value, "aborted receive does not release the answering wire");
            Expect(((result >> bit) & 1) == (one ? 1 : 0), "aborted receive returns a bit it did not read");
            i += 6;
        } else {
            Expect(i + 4 <= ev.size(), "aborted send made too few calls");
            Expect(ev[i].kind != Event::Yield && ev[i + 1].kind != Event::Yield && ev[i + 2].kind != Event::Yield &&
                       ev[i + 3].kind != Event::Yield,
                   "aborted send yields");
            i += 4;
        }
    }
    Expect(i == ev.size(), "aborted transfer made extra calls");
}

// One transfer; returns false when the far end stalled it.
bool Transfer(const Run& run, Xfer& xfer, AdversarialCable& cable, std::vector<std::uint8_t>& got, bool& overflowed)
{
    try {
        switch (run.job) {
        case Job::Receive:
            for (std::size_t i = 0; i < run.payload.size(); ++i) {
                const bool wasAborted = xfer.LinkAborted == kTrue;
                cable.record = wasAborted;
                const std::size_t from = cable.events.size();
                got.push_back(xfer.ReceiveByte());
                if (wasAborted) CheckAbortedBits(cable.events, from, true, got.back());
            }
            break;
        case Job::Send:
        case Job::Collide:
            for (const std::uint8_t& b : run.payload) {
                const bool wasAborted = xfer.LinkAborted == kTrue;
                cable.record = wasAborted;
                const std::size_t from = cable.events.size();
                xfer.SendByte(b);
                if (wasAborted) CheckAbortedBits(cable.events, from, false, 0);
            }
            break;
        case Job::SendString:
            xfer.SendString(run.text, [](char16_t c) { return static_cast<std::uint32_t>(c); });
            break;
        }
    } catch (const fuzzlink::Stalled&) {
        return false;
    } catch (const LinkError& e) {
        Expect(e.hr() == nightjar::link::kOverflowError, "unexpected link error");
        overflowed = true;
    }
    return true;
}

void CheckWellBehaved(const Run& run, const Xfer& xfer, const AdversarialCable& cable,
                      const std::vector<std::uint8_t>& got, bool overflowed)
{
    Expect(cable.OursReleased(), "a wire is left pulled after the transfer");
    if (xfer.LinkAborted == kTrue) {
        Expect(run.startAborted || (run.job == Job::Receive && run.options.longDelays),
               "the budget ran out although the far end kept time");
        return;
    }
    if (run.job == Job::Receive) {
        Expect(got == run.payload, "received bytes differ from those sent");
        Expect(cable.SenderDone(), "the far end still has bits to send");
        return;
    }
    std::vector<std::uint8_t> want;
    if (run.job == Job::Send) want = run.payload;
    bool wide = false;
    for (const char16_t c : run.text) {
        if (c > 0xFF) {
            wide = true;
            break;
        }
        want.push_back(static_cast<std::uint8_t>(c));
    }
    if (run.job == Job::SendString && !wide) want.push_back(0);
    Expect(overflowed == wide, "overflow reported for the wrong text");
    Expect(cable.Received() == want, "the far end took in other bytes than were sent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const Run run = DrawRun(data);
    AdversarialCable cable(data, run.options);
    if (run.job != Job::Send && run.job != Job::SendString) cable.QueueBytes(run.payload);

    Xfer xfer(cable, [&] {
        Expect(xfer.WaitCounter <= nightjar::link::kStartWaitPolls, "WaitCounter passed the budget");
        cable.Yield();
    });
    if (run.startAborted) xfer.LinkAborted = kTrue;

    std::vector<std::uint8_t> got;
    bool overflowed = false;
    const bool finished = Transfer(run, xfer, cable, got, overflowed);

    if (!finished) {
        // Only a far end that stopped while holding a wire, one that stopped
        // while this end sends, or one that sends at the same time may leave a
        // wait unended: every other stall is a wait that missed a move.
        Expect(xfer.LinkAborted != kTrue, "a wait did not end in the aborted state");
        const bool allowed = run.options.glitches || run.job == Job::Collide ||
                             (cable.Stopped() && (run.job != Job::Receive || cable.FarHoldsAWire()));
        Expect(allowed, "a wait did not end although the far end moved");
        return 0;
    }
    if (xfer.LinkAborted == kTrue) {
        Expect(xfer.WaitCounter == 1 || xfer.WaitCounter == nightjar::link::kStartWaitPolls || run.startAborted ||
                   run.job != Job::Receive,
               "WaitCounter is neither restarted nor at the budget");
    }
    if (WellBehaved(run)) CheckWellBehaved(run, xfer, cable, got, overflowed);
    return 0;
}
