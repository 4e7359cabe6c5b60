// The players on the session bus, found through libplayerctl's player
// manager, and the one the bridge follows with its track and status. A
// D-Bus proxy per player watches its status and metadata; for the followed
// one, further proxies give CanQuit and the track list.
#pragma once

#include <gio/gio.h>
// playerctl.h opens extern "C" before it includes GLib, which needs GLib first in C++.
#include <playerctl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_plan.h"
#include "glib_ptr.h"
#include "player_cache.h"
#include "player_choice.h"

namespace mpris_helper {

inline constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
inline constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";

class PlayerTracker {
public:
    // `changed` runs after anything the bridge shows has changed.
    PlayerTracker(GDBusConnection* bus, std::string wanted, std::function<void()> changed);
    ~PlayerTracker();
    PlayerTracker(const PlayerTracker&) = delete;
    PlayerTracker& operator=(const PlayerTracker&) = delete;

    bool Start(std::string& error);

    bool Present() const noexcept { return followed_ != nullptr; }
    const std::string& WindowTitle() const noexcept { return window_title_; }
    mpris_bridge::Status StatusNow() const;
    mpris_bridge::PlayerFacts Facts() const;

    // The followed player's bus name; "" when there is none.
    const std::string& BusName() const noexcept { return bus_name_; }
    GDBusConnection* Bus() const noexcept { return bus_; }
    double Volume() const;

private:
    struct Tracked;

    static void OnNameAppeared(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self);
    static void OnNameVanished(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self);
    static void OnSeeked(PlayerctlPlayer*, gint64 position_us, gpointer tracked);
    static void OnProxyChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer tracked);
    static void OnPositionRead(GObject* bus, GAsyncResult* result, gpointer self);

    void Add(PlayerctlPlayerName* name);
    Tracked* Choose() const;
    void Reconsider();
    void Follow(Tracked* tracked);
    void ReadTrack();
    void Rebase(std::optional<int64_t> position_ms);
    void ReadPosition();
    gvariant_ptr CachedProperty(GDBusProxy* proxy, const char* name) const;
    bool CachedFlag(const char* name) const;

    GDBusConnection* bus_;
    std::string wanted_;
    std::function<void()> changed_;
    gobject_ptr<PlayerctlPlayerManager> manager_;
    unique_signal appeared_;
    unique_signal vanished_;
    std::vector<std::unique_ptr<Tracked>> players_;
    uint64_t appearances_ = 0;

    Tracked* followed_ = nullptr;
    std::string bus_name_;
    gobject_ptr<GDBusProxy> root_proxy_;
    gobject_ptr<GDBusProxy> track_list_proxy_;
    gobject_ptr<GCancellable> position_read_;
    std::string window_title_;
    mpris_bridge::Status track_figures_;  // length, frequency, bit rate of the track
    mpris_bridge::PlayerCache position_;
};

}  // namespace mpris_helper
