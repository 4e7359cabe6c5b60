// MainLoop: the controller's one working loop. Each pass either announces a
// track whose title changed or, when the calculator pulls a wire, receives
// one command byte and carries it out.
//
// Free of <windows.h>: the main window is reached through LoopWindow, so the
// loop builds and runs natively against a fake calculator too.
#pragma once

#include <cstdint>
#include <string_view>

#include "xfer.h"

namespace nightjar::app {

// What a received byte asks for.
enum class CommandKind { Nothing, Player, ToggleWindow };

struct Command {
    CommandKind kind = CommandKind::Nothing;
    std::int32_t dispid = 0;  // Plavox member to call when kind is Player
};

// The command table, matched on the numeric byte value.
Command LookUpCommand(std::uint8_t byte) noexcept;

// The byte that ends an announcement.
inline constexpr std::uint8_t kEndOfAnnouncement = 2;

// An unset string and the empty string compare equal; everything else is an
// exact comparison of character codes.
bool TitleChanged(std::u16string_view current, std::u16string_view last_sent) noexcept;

// What a pass needs of the main window. Every call may throw; errors leave the
// loop unhandled and reach the load step's handler.
//
// A pass works from a whole copy of CurrentTrack taken when it starts (the
// pass record), and that copy becomes LastSentTrack when it ends. A track
// change handled at a yield inside the pass's transfer therefore is neither
// mixed into the announcement under way nor swallowed: the next pass sees it.
class LoopWindow {
public:
    virtual ~LoopWindow() = default;
    virtual bool StopWasRequested() const = 0;
    virtual void TakePassRecord() = 0;  // pass record <- CurrentTrack
    virtual std::u16string_view PassTitle() const = 0;
    virtual std::u16string_view PassArtist() const = 0;
    virtual std::u16string_view LastSentTitle() const = 0;
    virtual void KeepPassRecordAsLastSent() = 0;  // LastSentTrack <- pass record
    virtual void CallPlayer(std::int32_t dispid) = 0;
    virtual void ToggleVisibility() = 0;
    // Handles every pending window message.
    virtual void YieldToMessages() = 0;
};

class MainLoop {
public:
    MainLoop(LoopWindow& window, link::Xfer& xfer, link::Lines& lines, link::AnsiCodeOf ansi_code_of)
        : window_(window), xfer_(xfer), lines_(lines), ansi_code_of_(std::move(ansi_code_of))
    {
    }

    // Runs passes until a close request has been seen at the top of one; the
    // caller then ends the program.
    void Run();

    // One pass without the stop check: announce or receive, then copy the
    // record and yield.
    void RunPass();

private:
    void Announce();
    bool CalculatorWantsToSend();
    void CarryOut(std::uint8_t byte);

    LoopWindow& window_;
    link::Xfer& xfer_;
    link::Lines& lines_;
    link::AnsiCodeOf ansi_code_of_;
};

}  // namespace nightjar::app
