#include "main_loop.h"

#include <string>

#include "plavox/dispids.h"

namespace nightjar::app {

namespace {

struct CommandByte {
    std::uint8_t byte;
    Command command;
};

// Plavox's dispatch identifiers; the table is the calculator's protocol,
// so the numbers are spelled out here rather than taken from the control.
constexpr CommandByte kCommandTable[] = {
    {2, {CommandKind::Player, 0x6003000B}},   // SkipBack
    {3, {CommandKind::Player, 0x6003000A}},   // SkipFwd
    {49, {CommandKind::Player, 0x60030008}},  // NextTrack
    {50, {CommandKind::Player, 0x60030007}},  // StopTrack
    {51, {CommandKind::Player, 0x60030006}},  // PauseTrack
    {52, {CommandKind::Player, 0x60030005}},  // PlayTrack
    {53, {CommandKind::Player, 0x60030009}},  // PrevTrack
    {54, {CommandKind::ToggleWindow, 0}},
};

constexpr Command CommandFor(std::uint8_t byte) noexcept
{
    for (const CommandByte& entry : kCommandTable)
        if (entry.byte == byte) return entry.command;
    return {};
}

// The protocol's numbers must still name the members the control publishes.
constexpr bool CallsPlayer(std::uint8_t byte, std::int32_t dispid) noexcept
{
    const Command command = CommandFor(byte);
    return command.kind == CommandKind::Player && command.dispid == dispid;
}
static_assert(CallsPlayer(2, plavox::DISPID_SkipBack));
static_assert(CallsPlayer(3, plavox::DISPID_SkipFwd));
static_assert(CallsPlayer(49, plavox::DISPID_NextTrack));
static_assert(CallsPlayer(50, plavox::DISPID_StopTrack));
static_assert(CallsPlayer(51, plavox::DISPID_PauseTrack));
static_assert(CallsPlayer(52, plavox::DISPID_PlayTrack));
static_assert(CallsPlayer(53, plavox::DISPID_PrevTrack));

}  // namespace

Command LookUpCommand(std::uint8_t byte) noexcept
{
    return CommandFor(byte);
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
