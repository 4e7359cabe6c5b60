#include "link_loop.h"

#include <vector>

#include "windows_1252.h"

namespace nightjar::native {
namespace {

// The longest an idle wait lasts before the loop looks around again: only
// a bound, since a pull, a track or a stop request each end the wait at once.
constexpr std::chrono::milliseconds kIdleBound{1000};
// After this many dropped transfers in a row the loop stops logging each one:
// a wire that flaps (a cable half plugged) would fill the log.
constexpr int kDropsBeforeQuiet = 3;

std::string Quoted(const Track& track) { return "\"" + track.artist + "\" / \"" + track.title + "\""; }

// artist, 0, title, 0, the end byte; in Windows-1252, a character it lacks
// as '?'.
std::vector<std::uint8_t> AnnouncementBytes(const Track& track)
{
    std::vector<std::uint8_t> bytes;
    for (const std::string* text : {&track.artist, &track.title}) {
        for (const char16_t ch : Utf16OfUtf8(*text)) bytes.push_back(static_cast<std::uint8_t>(Windows1252CodeOf(ch)));
        bytes.push_back(0);
    }
    bytes.push_back(app::kEndOfAnnouncement);
    return bytes;
}

}  // namespace

LinkLoop::LinkLoop(PlayerSide& player, const Log& log) : player_(player), log_(log) {}

void LinkLoop::Interrupt()
{
    const std::lock_guard lock(mutex_);
    if (link_ != nullptr) link_->Interrupt();
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

LinkLoop::End LinkLoop::Run(CalculatorLink& link)
{
    {
        const std::lock_guard lock(mutex_);
        link_ = &link;
        last_sent_title_.clear();
    }
    End end = End::Stopped;
    try {
        while (!stop_.load()) RunPass(link);
    } catch (const CableGone& error) {
        log_.Error(std::string("the device went away: ") + error.what());
        end = End::DeviceGone;
    } catch (...) {
        const std::lock_guard lock(mutex_);
        link_ = nullptr;
        throw;
    }
    const std::lock_guard lock(mutex_);
    link_ = nullptr;
    return end;
}

// A byte the calculator has begun goes first: its sender is waiting on us,
// and an announcement started now would only collide with it. Announcements
// start from idle wires only.
void LinkLoop::RunPass(CalculatorLink& link)
{
    switch (link.Look()) {
    case LinkState::SenderWaiting: ReceiveCommand(link); return;
    case LinkState::Settling: link.WaitForActivity(kIdleBound); return;
    case LinkState::Idle: break;
    }
    // Said as the drop was, so that the log shows the link back in step.
    if (settling_ && drops_in_a_row_ <= kDropsBeforeQuiet) log_.Error("the wires are idle again");
    settling_ = false;
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
    } else {
        link.WaitForActivity(kIdleBound);
    }
}

void LinkLoop::Announce(CalculatorLink& link, const Track& track)
{
    try {
        for (const std::uint8_t byte : AnnouncementBytes(track)) link.SendByte(byte);
        log_.Event(track.title.empty() ? "announced: nothing playing" : "announced " + Quoted(track));
        TakeSuccess();
    } catch (const HandshakeTimeout& timeout) {
        TakeDrop("announcement of " + Quoted(track) + " dropped: " + timeout.what());
    }
}

void LinkLoop::ReceiveCommand(CalculatorLink& link)
{
    std::uint8_t byte;
    try {
        byte = link.ReceiveByte();
    } catch (const HandshakeTimeout& timeout) {
        TakeDrop(std::string("byte from the calculator dropped: ") + timeout.what());
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

// The link itself keeps a stuck wire from being retried (a byte begins only
// from idle wires), so a drop is only ever logged here.
void LinkLoop::TakeDrop(const std::string& what)
{
    ++drops_in_a_row_;
    settling_ = true;
    if (drops_in_a_row_ <= kDropsBeforeQuiet) log_.Error(what);
    if (drops_in_a_row_ == kDropsBeforeQuiet)
        log_.Error("the wires keep moving without a whole byte; dropped transfers are not logged until one passes");
}

void LinkLoop::TakeSuccess()
{
    if (drops_in_a_row_ >= kDropsBeforeQuiet) log_.Error("the calculator answers again");
    drops_in_a_row_ = 0;
}

}  // namespace nightjar::native
