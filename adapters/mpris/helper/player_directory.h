// The players on the session bus and the choice of the one to follow.
//
// libplayerctl's player manager only finds names and reports their comings
// and goings (it asks the bus, never a player). Each player is watched
// through one proxy of its Player interface, created asynchronously; until
// it has answered, a player is not a candidate, so one that appears hung
// delays nothing. Names owned by one connection are one player (see
// player_choice.h).
#pragma once

#include <gio/gio.h>
// playerctl.h opens extern "C" before it includes GLib, which needs GLib first in C++.
#include <playerctl.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "glib_ptr.h"
#include "player_choice.h"

namespace mpris_helper {

// What a followed player is made from.
struct PlayerHandle {
    std::string instance;  // "vlc", "mpv.instance42": the bus name's last part
    GDBusProxy* proxy;     // its Player interface; take a reference to keep it
};

class PlayerDirectory {
public:
    // `follow` runs whenever the choice changes; nullptr: no player to follow.
    // `settled` runs once, when every player there was at Start has answered
    // or been left aside: until then, "no player" may only mean "not yet".
    PlayerDirectory(std::string wanted, std::function<void(const PlayerHandle*)> follow,
                    std::function<void()> settled);
    ~PlayerDirectory();
    PlayerDirectory(const PlayerDirectory&) = delete;
    PlayerDirectory& operator=(const PlayerDirectory&) = delete;

    // Lists the players there are now (a call to the bus, not to a player).
    bool Start(GDBusConnection* bus, std::string& error);

    // The instance followed now; "" when none.
    const std::string& Followed() const noexcept { return followed_; }
    bool Settled() const noexcept { return settled_; }

private:
    struct Entry;

    static void OnNameAppeared(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self);
    static void OnNameVanished(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self);
    static void OnProxyReady(GObject*, GAsyncResult* result, gpointer entry);
    static gboolean OnProxyLate(gpointer entry);
    static void OnProxyChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer entry);

    void Add(const PlayerctlPlayerName* name);
    void Remove(const std::string& instance);
    void Ready(Entry& entry, gobject_ptr<GDBusProxy> proxy);
    void NoteStatus(Entry& entry);
    void Reconsider();
    void Heard(Entry& entry);
    bool PlainNamePending(const Entry& entry) const;

    GDBusConnection* bus_ = nullptr;
    std::string wanted_;
    std::function<void(const PlayerHandle*)> follow_;
    std::function<void()> on_settled_;
    size_t unheard_at_start_ = 0;
    bool started_ = false;
    bool settled_ = false;
    gobject_ptr<PlayerctlPlayerManager> manager_;
    unique_signal appeared_;
    unique_signal vanished_;
    std::vector<std::unique_ptr<Entry>> entries_;
    uint64_t appearances_ = 0;
    Entry* followed_entry_ = nullptr;
    bool followed_left_ = false;
    // Unique names of programs that have begun to leave the bus; never reused.
    std::set<std::string> leaving_owners_;
    std::string followed_;
};

}  // namespace mpris_helper
