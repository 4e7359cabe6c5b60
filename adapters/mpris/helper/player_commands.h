// Carries out the calculator's commands on one player: each becomes the
// MPRIS call PlanCommand gives for what the player says it can do.
//
// A player that has stopped answering must not carry out a key long after
// it was pressed, and a D-Bus call cannot be taken back once sent. So a
// command goes out only once the player has just answered (a read of its
// PlaybackStatus, bounded like every call); commands that come while that
// read is out wait for it, and are dropped with a log line when it gets no
// answer within the bound.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "command_plan.h"
#include "glib_ptr.h"

namespace mpris_helper {

class PlayerCommands {
public:
    PlayerCommands(std::string instance, GDBusProxy* proxy, std::function<mpris_bridge::PlayerFacts()> facts);
    // A fade under way ends with the volume put back.
    ~PlayerCommands();
    PlayerCommands(const PlayerCommands&) = delete;
    PlayerCommands& operator=(const PlayerCommands&) = delete;

    void Run(mpris_bridge::Command command);

private:
    static gboolean OnFadeStep(gpointer self);

    void Probe();
    void OnProbeAnswer(bool answered);
    void Carry(mpris_bridge::Command command);
    void StartFade();
    void FinishFade(bool stop);

    std::string instance_;
    gobject_ptr<GDBusProxy> proxy_;
    std::function<mpris_bridge::PlayerFacts()> facts_;
    std::vector<mpris_bridge::Command> waiting_;
    bool probing_ = false;
    unique_source fade_timer_;
    double fade_from_ = 1.0;
    int fade_step_ = 0;
    owned_cancellable probe_;  // last: cancelled before anything it would touch goes
};

}  // namespace mpris_helper
