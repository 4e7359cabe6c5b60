// mdlXfer: the calculator link. Bits travel over the cable's two wires with a
// four-phase handshake, bytes bit 0 first, strings with a 0 terminator.
//
// Free of <windows.h> so that it builds and runs natively as well: the serial
// line control is reached through Lines, the message-queue yield is a callback
// and the ANSI code page is a function.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace nightjar::link {

// A failure of the serial control or of a conversion. Carries an HRESULT so
// that it can leave the program through a COM boundary unchanged.
class LinkError : public std::runtime_error {
public:
    LinkError(std::int32_t hr, const std::string& what) : std::runtime_error(what), hr_(hr) {}
    std::int32_t hr() const noexcept { return hr_; }

private:
    std::int32_t hr_;
};

// The Automation overflow error (DISP_E_OVERFLOW).
inline constexpr std::int32_t kOverflowError = static_cast<std::int32_t>(0x8002000AU);

// 16-bit Automation booleans.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// Values put on the wire A output (the serial control's DISPID 10).
inline constexpr std::int32_t kPullWireA = 0;
inline constexpr std::int32_t kReleaseWireA = 2;

// The start wait gives up after this many polls of a bit.
inline constexpr std::int32_t kStartWaitPolls = 10000;

// What the link needs of the serial line control. Inputs read true while the
// wire is released; every call may throw LinkError.
class Lines {
public:
    virtual ~Lines() = default;
    virtual void PutWireAOutput(std::int32_t value) = 0;  // kPullWireA or kReleaseWireA
    virtual void PutWireBOutput(bool released) = 0;
    virtual bool WireAInput() = 0;
    virtual bool WireBInput() = 0;
};

// The code of one character in the system's ANSI code page. A code above 255
// (a double-byte character) cannot travel and makes SendString overflow.
using AnsiCodeOf = std::function<std::uint32_t(char16_t)>;

class Xfer {
public:
    Xfer(Lines& lines, std::function<void()> yield) : lines_(lines), yield_(std::move(yield)) {}

    // Process-wide state of the receive poll budget.
    std::int16_t LinkAborted = kFalse;
    std::int32_t WaitCounter = 0;

    void SendByte(const std::uint8_t& value);
    std::uint8_t ReceiveByte();
    bool ReceiveBit();

    void PullWireA();
    void ReleaseWireA();
    void PullWireB();
    void ReleaseWireB();

    // Sends the text as it stood at the call: the copy is taken before the
    // first yield, so a handler that replaces the caller's string while the
    // bytes go out changes nothing of this transfer.
    void SendString(std::u16string text, const AnsiCodeOf& ansi_code_of);

private:
    bool Aborted() const noexcept { return LinkAborted == kTrue; }
    void WaitForWireA(bool released);
    void WaitForWireB(bool released);

    Lines& lines_;
    std::function<void()> yield_;
};

}  // namespace nightjar::link
