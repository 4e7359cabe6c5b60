// The native program's working loop: the same decisions as Nightjar.exe's
// main loop (controller/app/main_loop.*: its command table, its "only when
// the title changes", the emptied announcement once when the player goes
// away), on any cable's link (calculator_link.h): it costs nothing while
// idle and never stays stuck: a transfer that stops is dropped with a log
// line, and the loop goes on with the next byte or track.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "log.h"
#include "player_side.h"
#include "calculator_link.h"

namespace nightjar::native {

class LinkLoop final : public PlayerEvents {
public:
    enum class End { Stopped, DeviceGone };

    LinkLoop(PlayerSide& player, const Log& log);

    // Runs on the link until RequestStop, or until the cable goes away;
    // other failures of the cable throw. Each run starts by announcing the
    // current track, as the calculator may be new to it.
    End Run(CalculatorLink& link);
    // From any thread.
    void RequestStop();

    void TrackChanged(const Track& track) override;
    void PlayerGone() override;

private:
    void RunPass(CalculatorLink& link);
    void Interrupt();
    void Announce(CalculatorLink& link, const Track& track);
    void ReceiveCommand(CalculatorLink& link);
    void CarryOut(std::uint8_t byte);
    void TakeDrop(const std::string& what);
    void TakeSuccess();

    PlayerSide& player_;
    const Log& log_;
    std::atomic<bool> stop_{false};
    int drops_in_a_row_ = 0;
    bool settling_ = false;  // since a drop, until the wires are seen idle

    std::mutex mutex_;
    CalculatorLink* link_ = nullptr;  // the link of the run under way
    Track current_;                   // as the player side last reported it
    std::u16string last_sent_title_;
};

}  // namespace nightjar::native
