// The calculator's link as the link loop sees it, whatever the cable: bytes
// each way, every wait bounded in wall-clock time, and framing that keeps a
// glitch on the wires from ever becoming a byte. The black serial cable's
// own bit driver (TimedLink) implements it; cables that move whole bytes in
// their own hardware implement it on top of their driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace nightjar::native {

// A transfer that stopped: the far end did not answer within its bound, a
// byte was broken off, or the two ends collided. The transfer is dropped,
// the link's wires are released, and the next byte is framed afresh.
class HandshakeTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The cable went away under us (a USB adapter or cable pulled out).
class CableGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class LinkState {
    Idle,           // both wires released: either end may begin a byte
    SenderWaiting,  // the calculator has begun a byte from an idle link
    Settling,       // a wire is pulled, but no byte may begin: after a dropped
                    // transfer, until both wires have been released
};

class CalculatorLink {
public:
    virtual ~CalculatorLink() = default;

    // The link as it is now.
    virtual LinkState Look() = 0;
    // Takes the byte the calculator has begun. Throws HandshakeTimeout when
    // it is broken off (never a partial byte), CableGone, or the cable's own
    // error for a failure that is not the cable going away.
    virtual std::uint8_t ReceiveByte() = 0;
    // Sends one byte, from an idle link only: a wire pulled by the far end
    // before the first bit is a collision and throws HandshakeTimeout.
    virtual void SendByte(std::uint8_t value) = 0;
    // Waits at most about `bound` while nothing happens: returns early when
    // the link's state changes from the last Look (a wire moves, a byte arrives) or Interrupt
    // is called.
    virtual void WaitForActivity(std::chrono::milliseconds bound) = 0;
    // Ends a WaitForActivity under way, or the next one; any thread, and
    // async-signal-safe.
    virtual void Interrupt() noexcept = 0;
};

}  // namespace nightjar::native
