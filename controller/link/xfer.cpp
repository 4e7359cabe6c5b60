#include "xfer.h"

namespace nightjar::link {

void Xfer::WaitForWireA(bool released)
{
    while (lines_.WireAInput() != released && !Aborted()) yield_();
}

void Xfer::WaitForWireB(bool released)
{
    while (lines_.WireBInput() != released && !Aborted()) yield_();
}

void Xfer::PullWireA()
{
    lines_.PutWireAOutput(kPullWireA);
    WaitForWireB(false);
}

void Xfer::ReleaseWireA()
{
    lines_.PutWireAOutput(kReleaseWireA);
    WaitForWireB(true);
}

void Xfer::PullWireB()
{
    lines_.PutWireBOutput(false);
    WaitForWireA(false);
}

void Xfer::ReleaseWireB()
{
    lines_.PutWireBOutput(true);
    WaitForWireA(true);
}

void Xfer::SendByte(const std::uint8_t& value)
{
    for (int i = 0; i < 8; ++i) {
        if (value & (1U << i)) {
            PullWireB();
            ReleaseWireB();
        } else {
            PullWireA();
            ReleaseWireA();
        }
    }
}

bool Xfer::ReceiveBit()
{
    WaitCounter = 1;
    for (;;) {
        const bool wire_b = lines_.WireBInput();
        const bool wire_a = lines_.WireAInput();
        if (!wire_b || !wire_a || Aborted()) break;
        if (++WaitCounter == kStartWaitPolls) LinkAborted = kTrue;
        yield_();
    }

    if (!lines_.WireAInput()) {  // wire A pulled, alone or with wire B: a 0 bit
        lines_.PutWireBOutput(false);
        WaitForWireA(true);
        lines_.PutWireBOutput(true);
        return false;
    }
    lines_.PutWireAOutput(kPullWireA);
    WaitForWireB(true);
    lines_.PutWireAOutput(kReleaseWireA);
    return true;
}

std::uint8_t Xfer::ReceiveByte()
{
    unsigned value = 0;
    for (int i = 0; i < 8; ++i) {
        if (ReceiveBit()) value |= 1U << i;
    }
    return static_cast<std::uint8_t>(value);
}

void Xfer::SendString(std::u16string text, const AnsiCodeOf& ansi_code_of)
{
    for (const char16_t ch : text) {
        const std::uint32_t code = ansi_code_of(ch);
        if (code > 0xFF) throw LinkError(kOverflowError, "Overflow: a character does not fit in one byte");
        const std::uint8_t byte = static_cast<std::uint8_t>(code);
        SendByte(byte);
    }
    const std::uint8_t terminator = 0;
    SendByte(terminator);
}

}  // namespace nightjar::link
