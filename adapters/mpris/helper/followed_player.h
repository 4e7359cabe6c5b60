// The player the helper follows, built when it is chosen and destroyed
// when another is (or it leaves): what it plays (the window title), its
// status and position clock, what it can do, and its commands. Everything
// comes from its proxy's property cache and signals, or from reads bounded
// in time; nothing waits on the player.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "command_plan.h"
#include "glib_ptr.h"
#include "metadata_reader.h"
#include "player_cache.h"
#include "player_commands.h"
#include "player_directory.h"

namespace mpris_helper {

class FollowedPlayer {
public:
    // Never called from within the constructor: what is there at the start
    // is read from the getters.
    struct Callbacks {
        std::function<void()> track;   // Track() has changed
        std::function<void()> status;  // StatusNow() has a new starting point: state, position or rate
    };

    FollowedPlayer(const PlayerHandle& player, Callbacks callbacks);
    FollowedPlayer(const FollowedPlayer&) = delete;
    FollowedPlayer& operator=(const FollowedPlayer&) = delete;

    const std::string& Instance() const noexcept { return instance_; }
    // The track as the calculator is to see it: artist and title in the
    // ANSI code page's repertoire, and the bridge window's title.
    const mpris_bridge::ComposedTitle& Track() const noexcept { return track_; }
    const std::string& WindowTitle() const noexcept { return track_.window_title; }
    mpris_bridge::Status StatusNow() const;
    mpris_bridge::PlayerFacts Facts() const;

    void Run(mpris_bridge::Command command) { commands_.Run(command); }

private:
    static void OnPropertiesChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer self);
    static void OnSignal(GDBusProxy*, gchar* sender, gchar* signal, GVariant* parameters, gpointer self);

    void ReadRootFacts();
    void ReadTrack();
    void ReadListPosition(TrackInfo info);
    void ShowTrack(const TrackInfo& info);
    void Rebase(std::optional<int64_t> position_ms);
    void ReadPosition();
    void Changed();

    std::string instance_;
    gobject_ptr<GDBusProxy> proxy_;
    Callbacks callbacks_;
    bool track_changed_ = false;  // since the callbacks were last called
    bool can_quit_ = false;
    bool has_track_list_ = false;
    uint64_t track_reads_ = 0;     // an answer about an older track is ignored
    uint64_t position_reads_ = 0;  // likewise for the position
    mpris_bridge::ComposedTitle track_;
    mpris_bridge::Status track_figures_;  // length, frequency, bit rate of the track
    mpris_bridge::PlayerCache clock_;
    unique_signal properties_changed_;
    unique_signal signal_;
    PlayerCommands commands_;
    owned_cancellable reads_;  // last: cancelled before anything its answers touch goes
};

}  // namespace mpris_helper
