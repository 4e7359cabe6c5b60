// The calculator's link on a cable libticables2 drives (ticables_cable.h):
// the link loop's interface (calculator_link.h) over the library's
// send, receive and check, with every wait bounded in wall-clock time.
//
// libticables2 cannot be interrupted inside a call, and its timeouts are
// the process's CPU time on serial cables and per USB packet on the
// SilverLink. So every call is given the library's shortest timeout, one
// tenth, where a stalled far end is to be given up (a byte broken off
// inside its bits; a transfer on a byte cable, whose hardware answers at
// once); a byte the PC starts gets the first-answer bound a calculator may
// need, kPhaseLimit. The black cable's driver polls the wires without
// sleeping, so its CPU time runs with the wall clock while it waits; a
// machine so loaded that it does not is what stretches these bounds.
// Between transfers the library is never waited in: the link polls
// ticables_cable_check at kCheckInterval, and sleeps between polls on an
// eventfd that Interrupt writes.
#pragma once

#include <chrono>
#include <cstdint>

#include "calculator_link.h"
#include "ticables_cable.h"
#include "unique_fd.h"

namespace nightjar::native {

// One poll costs about 36 us on the virtual cable (a wake-up, a stat of the
// device, the library's look at the wires): at 20 ms nightjar idles at about
// 0.3 % of a core there, at 10 ms 0.44 %, too near the 0.5 % goal
// (docs/performance.md). A calculator's first pull waits at most this long
// for its answer, against the 1.5 s it allows.
inline constexpr std::chrono::milliseconds kCheckInterval{20};

class TicablesLink final : public CalculatorLink {
public:
    explicit TicablesLink(TicablesCable cable);
    TicablesLink(const TicablesLink&) = delete;
    TicablesLink& operator=(const TicablesLink&) = delete;

    LinkState Look() override;
    std::uint8_t ReceiveByte() override;
    void SendByte(std::uint8_t value) override;
    void WaitForActivity(std::chrono::milliseconds bound) override;
    void Interrupt() noexcept override;

    const TicablesCable& cable() const noexcept { return cable_; }

private:
    template <class Call> auto Guarded(Call call);
    LinkState Current();
    void Drop();
    bool Interrupted(std::chrono::milliseconds wait);

    TicablesCable cable_;
    tty::UniqueFd wake_;
    // As in TimedLink: after a dropped transfer, a wire still pulled is what
    // is left of it, not a new byte, until the wires have been idle.
    bool idle_seen_ = true;
    LinkState last_seen_ = LinkState::Idle;
};

}  // namespace nightjar::native
