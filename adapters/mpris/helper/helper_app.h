// The helper as one object: the players on the bus, the one followed, and
// the bridge's connection, made together and wired in the constructor.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge_listener.h"
#include "followed_player.h"
#include "player_directory.h"

namespace mpris_helper {

class HelperApp {
public:
    struct Options {
        uint16_t port = 0;
        std::string player;  // --player: only this one (name or instance)
        std::string token;
    };

    explicit HelperApp(Options options);
    HelperApp(const HelperApp&) = delete;
    HelperApp& operator=(const HelperApp&) = delete;

    // Listens, then looks for players; `error` says what failed. `ready`
    // runs once the players already there have answered or been left aside
    // (within the bound of a call), so that a bridge connecting then is not
    // told "no player" for one about to be followed.
    bool Start(GDBusConnection* bus, std::function<void()> ready, std::string& error);
    uint16_t Port() const noexcept { return listener_ ? listener_->Port() : 0; }

private:
    void Follow(const PlayerHandle* player);
    void RunCommand(mpris_bridge::Command command);
    // Tells the bridge what changed since it was last told.
    void PublishChanges();
    void PublishEverything();

    Options options_;
    std::function<void()> ready_;
    std::unique_ptr<BridgeListener> listener_;
    std::unique_ptr<FollowedPlayer> followed_;
    PlayerDirectory directory_;
    std::optional<bool> sent_present_;
    std::optional<std::string> sent_title_;
};

}  // namespace mpris_helper
