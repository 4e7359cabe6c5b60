#include "player_tracker.h"

#include <algorithm>
#include <cmath>

#include "log.h"
#include "metadata_reader.h"

namespace mpris_helper {
namespace {

using mpris_bridge::PlayState;

int64_t NowMs() { return g_get_monotonic_time() / 1000; }

PlayState StateOf(GDBusProxy* proxy)
{
    gvariant_ptr status(g_dbus_proxy_get_cached_property(proxy, "PlaybackStatus"));
    if (!status || !g_variant_is_of_type(status.get(), G_VARIANT_TYPE_STRING)) return PlayState::Stopped;
    const std::string_view text = g_variant_get_string(status.get(), nullptr);
    return text == "Playing" ? PlayState::Playing : text == "Paused" ? PlayState::Paused : PlayState::Stopped;
}

bool Mentions(GVariant* changed, const char* property)
{
    gvariant_ptr value(g_variant_lookup_value(changed, property, nullptr));
    return value != nullptr;
}

template <typename Callback>
unique_signal Connect(gpointer instance, const char* signal, Callback callback, gpointer data)
{
    return unique_signal(instance, g_signal_connect(instance, signal, G_CALLBACK(callback), data));
}

gobject_ptr<GDBusProxy> MakeProxy(GDBusConnection* bus, const std::string& name, const char* interface)
{
    GError* raw = nullptr;
    gobject_ptr<GDBusProxy> proxy(g_dbus_proxy_new_sync(bus, G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, nullptr,
                                                        name.c_str(), kObjectPath, interface, nullptr, &raw));
    gerror_ptr failure(raw);
    if (!proxy) Log(std::string("no proxy for ") + interface + " of " + name + ": " + failure->message);
    return proxy;
}

}  // namespace

struct PlayerTracker::Tracked {
    PlayerTracker* owner = nullptr;
    mpris_bridge::Candidate candidate;
    gobject_ptr<PlayerctlPlayer> player;
    // Status, metadata, rate and the Can* flags all come from this one
    // property cache, so a command is planned on the state the bridge shows.
    gobject_ptr<GDBusProxy> proxy;
    PlayState state = PlayState::Stopped;
    unique_signal proxy_changed;
    unique_signal seeked_signal;
};

PlayerTracker::PlayerTracker(GDBusConnection* bus, std::string wanted, std::function<void()> changed)
    : bus_(bus), wanted_(std::move(wanted)), changed_(std::move(changed))
{
}

PlayerTracker::~PlayerTracker()
{
    if (position_read_) g_cancellable_cancel(position_read_.get());
}

bool PlayerTracker::Start(std::string& error)
{
    GError* raw = nullptr;
    manager_.reset(playerctl_player_manager_new(&raw));
    gerror_ptr failure(raw);
    if (!manager_) {
        error = failure ? failure->message : "cannot watch the bus for players";
        return false;
    }
    appeared_ = Connect(manager_.get(), "name-appeared", &PlayerTracker::OnNameAppeared, this);
    vanished_ = Connect(manager_.get(), "name-vanished", &PlayerTracker::OnNameVanished, this);
    GList* names = nullptr;
    g_object_get(manager_.get(), "player-names", &names, nullptr);
    for (GList* item = names; item; item = item->next) Add(static_cast<PlayerctlPlayerName*>(item->data));
    Reconsider();
    return true;
}

void PlayerTracker::OnNameAppeared(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self)
{
    auto* tracker = static_cast<PlayerTracker*>(self);
    tracker->Add(name);
    tracker->Reconsider();
}

void PlayerTracker::OnNameVanished(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self)
{
    auto* tracker = static_cast<PlayerTracker*>(self);
    if (name->source != PLAYERCTL_SOURCE_DBUS_SESSION) return;
    const std::string instance = name->instance;
    auto gone = std::find_if(tracker->players_.begin(), tracker->players_.end(),
                             [&](const auto& t) { return t->candidate.instance == instance; });
    if (gone == tracker->players_.end()) return;
    Log("player left: " + instance);
    const bool was_followed = gone->get() == tracker->followed_;
    if (was_followed) tracker->followed_ = nullptr;
    tracker->players_.erase(gone);
    // Straight to the next one, so the bridge sees no gap between them.
    if (was_followed) {
        tracker->Follow(tracker->Choose());
    } else {
        tracker->Reconsider();
    }
}

void PlayerTracker::Add(PlayerctlPlayerName* name)
{
    // playerctld stands in for other players; following it would count them twice.
    if (name->source != PLAYERCTL_SOURCE_DBUS_SESSION || g_strcmp0(name->name, "playerctld") == 0) return;
    mpris_bridge::Candidate candidate{name->name, name->instance, false, 0, ++appearances_, ""};
    if (!mpris_bridge::MatchesWanted(candidate, wanted_)) return;
    if (std::any_of(players_.begin(), players_.end(),
                    [&](const auto& t) { return t->candidate.instance == candidate.instance; })) {
        return;
    }
    GError* raw = nullptr;
    gobject_ptr<PlayerctlPlayer> player(playerctl_player_new_from_name(name, &raw));
    gerror_ptr failure(raw);
    if (!player) {
        Log("cannot follow " + candidate.instance + ": " + (failure ? failure->message : "unknown error"));
        return;
    }
    auto tracked = std::make_unique<Tracked>();
    tracked->owner = this;
    tracked->candidate = candidate;
    tracked->player = std::move(player);
    tracked->proxy = MakeProxy(bus_, "org.mpris.MediaPlayer2." + candidate.instance, kPlayerInterface);
    if (!tracked->proxy) return;
    tracked->state = StateOf(tracked->proxy.get());
    tracked->candidate.playing = tracked->state == PlayState::Playing;
    if (tracked->candidate.playing) tracked->candidate.last_playing = NowMs();
    tracked->proxy_changed =
        Connect(tracked->proxy.get(), "g-properties-changed", &PlayerTracker::OnProxyChanged, tracked.get());
    tracked->seeked_signal = Connect(tracked->player.get(), "seeked", &PlayerTracker::OnSeeked, tracked.get());
    Log("player found: " + candidate.instance);
    players_.push_back(std::move(tracked));
}

PlayerTracker::Tracked* PlayerTracker::Choose() const
{
    std::vector<mpris_bridge::Candidate> candidates;
    for (const auto& t : players_) candidates.push_back(t->candidate);
    const auto choice = mpris_bridge::ChooseFollowed(candidates, wanted_);
    return choice ? players_[*choice].get() : nullptr;
}

void PlayerTracker::Reconsider()
{
    Tracked* next = Choose();
    if (next != followed_) Follow(next);
}

void PlayerTracker::Follow(Tracked* tracked)
{
    if (position_read_) g_cancellable_cancel(position_read_.get());
    position_read_.reset();
    root_proxy_.reset();
    track_list_proxy_.reset();
    followed_ = tracked;
    bus_name_.clear();
    window_title_.clear();
    track_figures_ = {};
    position_.Clear();
    if (tracked) {
        bus_name_ = "org.mpris.MediaPlayer2." + tracked->candidate.instance;
        Log("following " + tracked->candidate.instance);
        root_proxy_ = MakeProxy(bus_, bus_name_, kRootInterface);
        track_list_proxy_ = MakeProxy(bus_, bus_name_, "org.mpris.MediaPlayer2.TrackList");
        ReadTrack();
        Rebase(0);
        ReadPosition();
    } else {
        Log("no player to follow");
    }
    if (changed_) changed_();
}

void PlayerTracker::OnProxyChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer data)
{
    auto* tracked = static_cast<Tracked*>(data);
    PlayerTracker* self = tracked->owner;
    const bool status = Mentions(changed, "PlaybackStatus");
    if (status) {
        tracked->state = StateOf(tracked->proxy.get());
        tracked->candidate.playing = tracked->state == PlayState::Playing;
        if (tracked->candidate.playing) tracked->candidate.last_playing = NowMs();
    }
    if (tracked == self->followed_) {
        const bool track = Mentions(changed, "Metadata");
        if (track) self->ReadTrack();
        // The rate changes how fast the position runs.
        if (status || track || Mentions(changed, "Rate")) {
            self->Rebase(std::nullopt);
            if (status || track) self->ReadPosition();
            if (self->changed_) self->changed_();
        }
    }
    if (status) self->Reconsider();
}

void PlayerTracker::OnSeeked(PlayerctlPlayer*, gint64 position_us, gpointer data)
{
    auto* tracked = static_cast<Tracked*>(data);
    PlayerTracker* self = tracked->owner;
    if (tracked != self->followed_) return;
    self->Rebase(std::max<gint64>(position_us, 0) / 1000);
    if (self->changed_) self->changed_();
}

void PlayerTracker::ReadTrack()
{
    gvariant_ptr metadata = CachedProperty(followed_->proxy.get(), "Metadata");
    TrackInfo info = ReadTrackInfo(metadata.get());
    if (track_list_proxy_ && !info.track_id.empty()) {
        if (gvariant_ptr tracks = CachedProperty(track_list_proxy_.get(), "Tracks");
            tracks && g_variant_is_of_type(tracks.get(), G_VARIANT_TYPE("ao"))) {
            const gsize count = g_variant_n_children(tracks.get());
            for (gsize i = 0; i < count; ++i) {
                gvariant_ptr path(g_variant_get_child_value(tracks.get(), i));
                if (info.track_id == g_variant_get_string(path.get(), nullptr)) info.metadata.list_position = i + 1;
            }
        }
    }
    window_title_ = mpris_bridge::ComposeWindowTitle(info.metadata).window_title;
    track_figures_.length_s = info.length_s;
    track_figures_.freq_hz = info.freq_hz;
    track_figures_.kbps = info.kbps;
}

// Takes a new starting point for the position: the one given, or where the
// old one has run to.
void PlayerTracker::Rebase(std::optional<int64_t> position_ms)
{
    const int64_t now = NowMs();
    mpris_bridge::Status status = track_figures_;
    status.state = followed_ ? followed_->state : PlayState::Stopped;
    status.position_ms = position_ms.value_or(position_.PositionMsAt(now));
    if (status.state == PlayState::Stopped && !position_ms) status.position_ms = 0;
    status.rate_per_mille = 1000;
    if (gvariant_ptr rate = followed_ ? CachedProperty(followed_->proxy.get(), "Rate") : nullptr;
        rate && g_variant_is_of_type(rate.get(), G_VARIANT_TYPE_DOUBLE)) {
        const double value = g_variant_get_double(rate.get());
        if (std::isfinite(value) && value >= 0 && value <= 1000) {
            status.rate_per_mille = static_cast<int32_t>(std::lround(value * 1000));
        }
    }
    position_.Apply(status, now);
}

void PlayerTracker::ReadPosition()
{
    if (position_read_) g_cancellable_cancel(position_read_.get());
    position_read_.reset(g_cancellable_new());
    g_dbus_connection_call(bus_, bus_name_.c_str(), kObjectPath, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", kPlayerInterface, "Position"), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, position_read_.get(), &PlayerTracker::OnPositionRead,
                           this);
}

void PlayerTracker::OnPositionRead(GObject* bus, GAsyncResult* result, gpointer data)
{
    GError* raw = nullptr;
    gvariant_ptr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &raw));
    gerror_ptr failure(raw);
    // Cancelled: the tracker has moved on, or is gone.
    if (failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    auto* self = static_cast<PlayerTracker*>(data);
    if (!reply) {
        Log("cannot read the position: " + std::string(failure ? failure->message : "no reply"));
        return;
    }
    gvariant_ptr boxed(g_variant_get_child_value(reply.get(), 0));
    gvariant_ptr value(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT64)) return;
    self->Rebase(std::max<gint64>(g_variant_get_int64(value.get()), 0) / 1000);
    if (self->changed_) self->changed_();
}

mpris_bridge::Status PlayerTracker::StatusNow() const
{
    mpris_bridge::Status status = position_.Last();
    status.position_ms = position_.PositionMsAt(NowMs());
    return status;
}

gvariant_ptr PlayerTracker::CachedProperty(GDBusProxy* proxy, const char* name) const
{
    return gvariant_ptr(g_dbus_proxy_get_cached_property(proxy, name));
}

bool PlayerTracker::CachedFlag(const char* name) const
{
    if (!followed_) return false;
    gvariant_ptr value = CachedProperty(followed_->proxy.get(), name);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
}

mpris_bridge::PlayerFacts PlayerTracker::Facts() const
{
    mpris_bridge::PlayerFacts facts;
    if (!followed_) return facts;
    facts.state = followed_->state;
    facts.can_control = CachedFlag("CanControl");
    facts.can_play = CachedFlag("CanPlay");
    facts.can_pause = CachedFlag("CanPause");
    facts.can_seek = CachedFlag("CanSeek");
    facts.can_go_next = CachedFlag("CanGoNext");
    facts.can_go_previous = CachedFlag("CanGoPrevious");
    {
        gvariant_ptr volume = CachedProperty(followed_->proxy.get(), "Volume");
        facts.has_volume = volume && g_variant_is_of_type(volume.get(), G_VARIANT_TYPE_DOUBLE);
        gvariant_ptr shuffle = CachedProperty(followed_->proxy.get(), "Shuffle");
        facts.has_shuffle = shuffle && g_variant_is_of_type(shuffle.get(), G_VARIANT_TYPE_BOOLEAN);
        facts.shuffle = facts.has_shuffle && g_variant_get_boolean(shuffle.get());
    }
    if (root_proxy_) {
        gvariant_ptr can_quit = CachedProperty(root_proxy_.get(), "CanQuit");
        facts.can_quit = can_quit && g_variant_is_of_type(can_quit.get(), G_VARIANT_TYPE_BOOLEAN) &&
                         g_variant_get_boolean(can_quit.get());
    }
    return facts;
}

double PlayerTracker::Volume() const
{
    if (!followed_) return 1.0;
    gvariant_ptr volume = CachedProperty(followed_->proxy.get(), "Volume");
    if (!volume || !g_variant_is_of_type(volume.get(), G_VARIANT_TYPE_DOUBLE)) return 1.0;
    return g_variant_get_double(volume.get());
}

}  // namespace mpris_helper
