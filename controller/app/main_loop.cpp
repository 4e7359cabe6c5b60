#include "main_loop.h"

#include <string>

namespace nightjar::app {

Command LookUpCommand(std::uint8_t byte) noexcept
{
    // Plavox's dispatch identifiers; the table is the calculator's protocol,
    // so the numbers are spelled out here rather than taken from the control.
    switch (byte) {
    case 2: return {CommandKind::Player, 0x6003000B};   // SkipBack
    case 3: return {CommandKind::Player, 0x6003000A};   // SkipFwd
    case 49: return {CommandKind::Player, 0x60030008};  // NextTrack
    case 50: return {CommandKind::Player, 0x60030007};  // StopTrack
    case 51: return {CommandKind::Player, 0x60030006};  // PauseTrack
    case 52: return {CommandKind::Player, 0x60030005};  // PlayTrack
    case 53: return {CommandKind::Player, 0x60030009};  // PrevTrack
    case 54: return {CommandKind::ToggleWindow, 0};
    default: return {};
    }
}

bool TitleChanged(std::u16string_view current, std::u16string_view last_sent) noexcept
{
    return current != last_sent;
}

void MainLoop::Run()
{
    while (!window_.StopWasRequested()) RunPass();
}

void MainLoop::RunPass()
{
    window_.TakePassRecord();
    if (TitleChanged(window_.PassTitle(), window_.LastSentTitle())) {
        Announce();  // the lines are not polled in this pass
    } else if (CalculatorWantsToSend()) {
        CarryOut(xfer_.ReceiveByte());
    }
    window_.KeepPassRecordAsLastSent();
    window_.YieldToMessages();
}

void MainLoop::Announce()
{
    // Artist and title come from the one record the pass started with, even
    // when a TrackChanged is handled at a yield between the two strings.
    xfer_.SendString(std::u16string(window_.PassArtist()), ansi_code_of_);
    xfer_.SendString(std::u16string(window_.PassTitle()), ansi_code_of_);
    xfer_.SendByte(kEndOfAnnouncement);
}

bool MainLoop::CalculatorWantsToSend()
{
    // Both lines are read on every poll, wire B first.
    const bool wire_b_released = lines_.WireBInput();
    const bool wire_a_released = lines_.WireAInput();
    return !wire_b_released || !wire_a_released;
}

void MainLoop::CarryOut(std::uint8_t byte)
{
    const Command command = LookUpCommand(byte);
    switch (command.kind) {
    case CommandKind::Player: window_.CallPlayer(command.dispid); break;
    case CommandKind::ToggleWindow: window_.ToggleVisibility(); break;
    case CommandKind::Nothing: break;
    }
}

}  // namespace nightjar::app
