// Carries out the bridge's commands on the followed player: each becomes
// one asynchronous MPRIS call (or property write), planned by PlanCommand;
// nothing here waits for a player.
#pragma once

#include <string>

#include "command_plan.h"
#include "glib_ptr.h"
#include "player_tracker.h"

namespace mpris_helper {

class PlayerControl {
public:
    explicit PlayerControl(PlayerTracker& tracker) : tracker_(tracker) {}
    ~PlayerControl();
    PlayerControl(const PlayerControl&) = delete;
    PlayerControl& operator=(const PlayerControl&) = delete;

    void Run(mpris_bridge::Command command);

private:
    static gboolean OnFadeStep(gpointer self);

    void Carry(const mpris_bridge::Plan& plan);
    void CallPlayer(const char* method, GVariant* parameters);
    void CallRoot(const char* method);
    void SetPlayerProperty(const char* name, GVariant* value);
    void Call(const std::string& bus_name, const char* interface, const char* method, GVariant* parameters,
              std::string what);
    void StartFade();
    void FinishFade(bool stop);

    PlayerTracker& tracker_;
    unique_source fade_timer_;
    std::string fade_bus_name_;
    double fade_from_ = 1.0;
    int fade_step_ = 0;
};

}  // namespace mpris_helper
