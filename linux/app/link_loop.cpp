#include "link_loop.h"

#include "windows_1252.h"

namespace nightjar::native {
namespace {

// The longest an idle wait lasts before the loop looks around again: only
// a bound, since a pull, a track or a stop request each end the wait at once.
constexpr std::chrono::milliseconds kIdleBound{1000};
// After this many dropped transfers in a row the loop stops logging each one
// and tries again only every kStuckRetry (sooner when the wires change).
constexpr int kDropsBeforeQuiet = 3;
constexpr std::chrono::milliseconds kStuckRetry{2000};

std::string Quoted(const Track& track) { return "\"" + track.artist + "\" / \"" + track.title + "\""; }

}  // namespace

LinkLoop::LinkLoop(PlayerSide& player, const Log& log, std::chrono::milliseconds phase_limit)
    : player_(player), log_(log), phase_limit_(phase_limit)
{
}

void LinkLoop::Interrupt()
{
    const std::lock_guard lock(mutex_);
    if (lines_ != nullptr) lines_->Interrupt();
}

void LinkLoop::TrackChanged(const Track& track)
{
    {
        const std::lock_guard lock(mutex_);
        current_ = track;
    }
    Interrupt();
}

void LinkLoop::PlayerGone() { TrackChanged(Track{}); }

void LinkLoop::RequestStop()
{
    stop_.store(true);
    Interrupt();
}

LinkLoop::End LinkLoop::Run(tty::TtyLines& lines)
{
    TimedLink link(lines, phase_limit_);
    {
        const std::lock_guard lock(mutex_);
        lines_ = &lines;
        last_sent_title_.clear();
    }
    End end = End::Stopped;
    try {
        while (!stop_.load()) RunPass(link);
    } catch (const tty::LineError& error) {
        if (!error.DeviceGone()) {
            const std::lock_guard lock(mutex_);
            lines_ = nullptr;
            throw;
        }
        log_.Error(std::string("the device went away: ") + error.what());
        end = End::DeviceGone;
    }
    const std::lock_guard lock(mutex_);
    lines_ = nullptr;
    return end;
}

void LinkLoop::RunPass(TimedLink& link)
{
    Track pass;
    {
        const std::lock_guard lock(mutex_);
        pass = current_;
    }
    const std::u16string title = Utf16OfUtf8(pass.title);
    if (app::TitleChanged(title, last_sent_title_)) {
        Announce(link, pass);
        // Sent or dropped, this title is done: a calculator that is off
        // gets the next track, not this one again and again.
        last_sent_title_ = title;
    } else if (link.SenderWaiting()) {
        ReceiveCommand(link);
    } else {
        link.lines().WaitForChange(kIdleBound);
    }
}

void LinkLoop::Announce(TimedLink& link, const Track& track)
{
    try {
        link.SendString(Utf16OfUtf8(track.artist), Windows1252CodeOf);
        link.SendString(Utf16OfUtf8(track.title), Windows1252CodeOf);
        link.SendByte(app::kEndOfAnnouncement);
        log_.Event(track.title.empty() ? "announced: nothing playing" : "announced " + Quoted(track));
        TakeSuccess();
    } catch (const HandshakeTimeout& timeout) {
        TakeDrop(link, "announcement of " + Quoted(track) + " dropped: " + timeout.what());
    }
}

void LinkLoop::ReceiveCommand(TimedLink& link)
{
    std::uint8_t byte;
    try {
        byte = link.ReceiveByte();
    } catch (const HandshakeTimeout& timeout) {
        TakeDrop(link, std::string("byte from the calculator dropped: ") + timeout.what());
        return;
    }
    TakeSuccess();
    CarryOut(byte);
}

void LinkLoop::CarryOut(std::uint8_t byte)
{
    const app::Command command = app::LookUpCommand(byte);
    switch (command.kind) {
    case app::CommandKind::Player:
        log_.Event("byte " + std::to_string(byte) + ": player command");
        player_.Carry(byte, command);
        break;
    case app::CommandKind::ToggleWindow:
        log_.Event("byte " + std::to_string(byte) + ": show/hide (no window here)");
        break;
    case app::CommandKind::Nothing:
        log_.Event("byte " + std::to_string(byte) + ": no command, ignored");
        break;
    }
}

// A pull right after a dropped transfer is most likely the calculator's
// next byte, so the loop takes it as one at once. Only a line that keeps
// failing (a wire stuck or a cable half plugged) slows the loop down, so that
// it neither fills the log with a drop every phase limit nor spins. The
// retry is timed rather than waiting for the wire's release: a release and a
// new pull between two looks would leave the wires as they were.
void LinkLoop::TakeDrop(TimedLink& link, const std::string& what)
{
    ++drops_in_a_row_;
    if (drops_in_a_row_ <= kDropsBeforeQuiet) log_.Error(what);
    if (drops_in_a_row_ == kDropsBeforeQuiet)
        log_.Error("a wire stays pulled or the calculator does not answer; trying again every " +
                   std::to_string(kStuckRetry.count() / 1000) + " s, quietly");
    if (drops_in_a_row_ >= kDropsBeforeQuiet && !stop_.load()) link.lines().WaitForChange(kStuckRetry);
}

void LinkLoop::TakeSuccess()
{
    if (drops_in_a_row_ >= kDropsBeforeQuiet) log_.Error("the calculator answers again");
    drops_in_a_row_ = 0;
}

}  // namespace nightjar::native
