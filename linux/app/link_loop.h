// The native program's working loop: the same decisions as Nightjar.exe's
// main loop (controller/app/main_loop.*: its command table, its "only when
// the title changes", the emptied announcement once when the player goes
// away), on a serial port that costs nothing while idle and never stays
// stuck: a transfer that stops is dropped with a log line, the wires are
// released, and the loop goes on with the next byte or track.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "log.h"
#include "player_side.h"
#include "timed_link.h"
#include "tty_lines.h"

namespace nightjar::native {

class LinkLoop final : public PlayerEvents {
public:
    enum class End { Stopped, DeviceGone };

    LinkLoop(PlayerSide& player, const Log& log, std::chrono::milliseconds phase_limit = kPhaseLimit);

    // Runs on the port until RequestStop, or until the device goes away;
    // other failures of the port throw tty::LineError. Each run starts by
    // announcing the current track, as the calculator may be new to it.
    End Run(tty::TtyLines& lines);
    // From any thread.
    void RequestStop();

    void TrackChanged(const Track& track) override;
    void PlayerGone() override;

private:
    void RunPass(TimedLink& link);
    void Interrupt();
    void Announce(TimedLink& link, const Track& track);
    void ReceiveCommand(TimedLink& link);
    void CarryOut(std::uint8_t byte);
    void TakeDrop(TimedLink& link, const std::string& what);
    void TakeSuccess();

    PlayerSide& player_;
    const Log& log_;
    std::chrono::milliseconds phase_limit_;
    std::atomic<bool> stop_{false};
    int drops_in_a_row_ = 0;

    std::mutex mutex_;
    tty::TtyLines* lines_ = nullptr;  // the port of the run under way
    Track current_;                   // as the player side last reported it
    std::u16string last_sent_title_;
};

}  // namespace nightjar::native
