// The player side on the desktop's MPRIS players, with the MPRIS helper's
// own pieces (adapters/mpris/helper: the player directory, the followed
// player and its commands), called directly.
//
// They run on a GLib main loop in a thread of their own, so neither side
// ever waits on the other: a calculator byte reaches that loop as an idle
// callback (g_main_context_invoke), a track reaches the link loop through
// PlayerEvents, which only records it and wakes the link. Nothing on the
// player thread waits on a player either: every call is asynchronous and
// bounded in time by the helper's pieces.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "line_protocol.h"
#include "log.h"
#include "player_side.h"

namespace mpris_helper {
class FollowedPlayer;
class PlayerDirectory;
struct PlayerHandle;
}  // namespace mpris_helper

namespace nightjar::native {

struct PlayerSideError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class MprisPlayerSide final : public PlayerSide {
public:
    // `wanted`: the player to follow, by name or instance ("vlc",
    // "mpv.instance42"); empty: the one playing, as the bridge chooses.
    MprisPlayerSide(std::string wanted, const Log& log);
    ~MprisPlayerSide() override;
    MprisPlayerSide(const MprisPlayerSide&) = delete;
    MprisPlayerSide& operator=(const MprisPlayerSide&) = delete;

    // Throws PlayerSideError when there is no session bus to watch.
    void Start(PlayerEvents& events) override;
    void Stop() override;
    void Carry(std::uint8_t byte, const app::Command& command) override;

private:
    struct ContextUnref {
        void operator()(GMainContext* context) const noexcept { g_main_context_unref(context); }
    };
    struct LoopUnref {
        void operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }
    };

    // On the player thread.
    void Run(PlayerEvents& events, std::promise<std::string>& started);
    // Starts the player directory; what failed, or "".
    std::string WatchPlayers(GDBusConnection* bus, PlayerEvents& events);
    void Follow(const mpris_helper::PlayerHandle* player, PlayerEvents& events);
    void ReportTrack(PlayerEvents& events);
    void RunCommand(std::uint8_t byte, mpris_bridge::Command command);

    // Runs `work` on the player thread; dropped if the loop has ended.
    void Post(std::function<void()> work);

    std::string wanted_;
    const Log& log_;
    std::unique_ptr<GMainContext, ContextUnref> context_;
    std::unique_ptr<GMainLoop, LoopUnref> loop_;
    std::thread thread_;
    // Made, used and destroyed on the player thread only.
    std::unique_ptr<mpris_helper::PlayerDirectory> directory_;
    std::unique_ptr<mpris_helper::FollowedPlayer> followed_;
};

}  // namespace nightjar::native
