#include "followed_player.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "player_calls.h"

namespace mpris_helper {
namespace {

using mpris_bridge::PlayState;

int64_t NowMs() { return g_get_monotonic_time() / 1000; }

bool Mentions(GVariant* changed, const char* property)
{
    const gvariant_ptr value(g_variant_lookup_value(changed, property, nullptr));
    return value != nullptr;
}

PlayState StateOf(GDBusProxy* proxy)
{
    const gvariant_ptr status = CachedProperty(proxy, "PlaybackStatus", G_VARIANT_TYPE_STRING);
    const std::string_view text = status ? g_variant_get_string(status.get(), nullptr) : "";
    return text == "Playing" ? PlayState::Playing : text == "Paused" ? PlayState::Paused : PlayState::Stopped;
}

int32_t RatePerMille(GDBusProxy* proxy)
{
    const gvariant_ptr rate = CachedProperty(proxy, "Rate", G_VARIANT_TYPE_DOUBLE);
    const double value = rate ? g_variant_get_double(rate.get()) : 1.0;
    if (!std::isfinite(value) || value < 0 || value > 1000) return 1000;
    return static_cast<int32_t>(std::lround(value * 1000));
}

template <typename Callback>
unique_signal Connect(gpointer instance, const char* signal, Callback callback, gpointer data)
{
    return unique_signal(instance, g_signal_connect(instance, signal, G_CALLBACK(callback), data));
}

}  // namespace

FollowedPlayer::FollowedPlayer(const PlayerHandle& player, Callbacks callbacks)
    : instance_(player.instance),
      proxy_(G_DBUS_PROXY(g_object_ref(player.proxy))),
      callbacks_(std::move(callbacks)),
      commands_(instance_, player.proxy, [this] { return Facts(); })
{
    properties_changed_ =
        Connect(proxy_.get(), "g-properties-changed", &FollowedPlayer::OnPropertiesChanged, this);
    signal_ = Connect(proxy_.get(), "g-signal", &FollowedPlayer::OnSignal, this);
    ReadRootFacts();
    const TrackInfo info = ReadTrackInfo(CachedProperty(proxy_.get(), "Metadata", G_VARIANT_TYPE_VARDICT).get());
    ShowTrack(info);
    track_changed_ = false;
    Rebase(0);
    ReadPosition();
}

void FollowedPlayer::ReadRootFacts()
{
    ReadProperty(proxy_.get(), kRootInterface, "CanQuit", reads_.get(), [this](GVariant* value) {
        can_quit_ = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    });
    ReadProperty(proxy_.get(), kRootInterface, "HasTrackList", reads_.get(), [this](GVariant* value) {
        has_track_list_ =
            value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        if (has_track_list_) ReadTrack();
    });
}

void FollowedPlayer::OnPropertiesChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer data)
{
    auto* self = static_cast<FollowedPlayer*>(data);
    const bool status = Mentions(changed, "PlaybackStatus");
    const bool track = Mentions(changed, "Metadata");
    if (track) self->ReadTrack();
    // The rate changes how fast the position runs.
    if (status || track || Mentions(changed, "Rate")) {
        self->Rebase(std::nullopt);
        if (status || track) self->ReadPosition();
        self->Changed();
    }
}

void FollowedPlayer::OnSignal(GDBusProxy*, gchar*, gchar* signal, GVariant* parameters, gpointer data)
{
    auto* self = static_cast<FollowedPlayer*>(data);
    if (g_strcmp0(signal, "Seeked") != 0 || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(x)"))) return;
    gint64 position_us = 0;
    g_variant_get(parameters, "(x)", &position_us);
    self->Rebase(std::max<gint64>(position_us, 0) / 1000);
    self->Changed();
}

void FollowedPlayer::ReadTrack()
{
    TrackInfo info = ReadTrackInfo(CachedProperty(proxy_.get(), "Metadata", G_VARIANT_TYPE_VARDICT).get());
    ++track_reads_;
    // The place in the track list matters only where the track has no number.
    if (has_track_list_ && !info.track_id.empty() && !info.metadata.track_number) {
        ReadListPosition(std::move(info));
        return;
    }
    ShowTrack(info);
}

// The title waits for the answer, bounded, so that the calculator is not
// told the track twice, once without its number.
void FollowedPlayer::ReadListPosition(TrackInfo info)
{
    ReadProperty(proxy_.get(), kTrackListInterface, "Tracks", reads_.get(),
                 [this, info = std::move(info), read = track_reads_](GVariant* tracks) mutable {
                     if (read != track_reads_) return;
                     if (tracks && g_variant_is_of_type(tracks, G_VARIANT_TYPE("ao"))) {
                         const gsize count = g_variant_n_children(tracks);
                         for (gsize i = 0; i < count; ++i) {
                             const gvariant_ptr path(g_variant_get_child_value(tracks, i));
                             if (info.track_id == g_variant_get_string(path.get(), nullptr)) {
                                 info.metadata.list_position = i + 1;
                             }
                         }
                     }
                     ShowTrack(info);
                     Changed();
                 });
}

void FollowedPlayer::ShowTrack(const TrackInfo& info)
{
    mpris_bridge::ComposedTitle track = mpris_bridge::ComposeWindowTitle(info.metadata);
    if (track.window_title != track_.window_title) track_changed_ = true;
    track_ = std::move(track);
    track_figures_.length_s = info.length_s;
    track_figures_.freq_hz = info.freq_hz;
    track_figures_.kbps = info.kbps;
    Rebase(std::nullopt);
}

// Takes a new starting point for the position: the one given, or where the
// old one has run to.
void FollowedPlayer::Rebase(std::optional<int64_t> position_ms)
{
    const int64_t now = NowMs();
    mpris_bridge::Status status = track_figures_;
    status.state = StateOf(proxy_.get());
    status.position_ms = position_ms.value_or(clock_.PositionMsAt(now));
    if (status.state == PlayState::Stopped && !position_ms) status.position_ms = 0;
    status.rate_per_mille = RatePerMille(proxy_.get());
    clock_.Apply(status, now);
}

void FollowedPlayer::ReadPosition()
{
    ReadProperty(proxy_.get(), kPlayerInterface, "Position", reads_.get(),
                 [this, read = ++position_reads_](GVariant* value) {
                     if (read != position_reads_ || !value || !g_variant_is_of_type(value, G_VARIANT_TYPE_INT64)) {
                         return;
                     }
                     Rebase(std::max<gint64>(g_variant_get_int64(value), 0) / 1000);
                     Changed();
                 });
}

void FollowedPlayer::Changed()
{
    if (std::exchange(track_changed_, false) && callbacks_.track) callbacks_.track();
    if (callbacks_.status) callbacks_.status();
}

mpris_bridge::Status FollowedPlayer::StatusNow() const
{
    mpris_bridge::Status status = clock_.Last();
    status.position_ms = clock_.PositionMsAt(NowMs());
    return status;
}

mpris_bridge::PlayerFacts FollowedPlayer::Facts() const
{
    mpris_bridge::PlayerFacts facts;
    GDBusProxy* proxy = proxy_.get();
    facts.state = StateOf(proxy);
    facts.can_control = CachedFlag(proxy, "CanControl");
    facts.can_play = CachedFlag(proxy, "CanPlay");
    facts.can_pause = CachedFlag(proxy, "CanPause");
    facts.can_seek = CachedFlag(proxy, "CanSeek");
    facts.can_go_next = CachedFlag(proxy, "CanGoNext");
    facts.can_go_previous = CachedFlag(proxy, "CanGoPrevious");
    facts.can_quit = can_quit_;
    facts.has_volume = CachedProperty(proxy, "Volume", G_VARIANT_TYPE_DOUBLE) != nullptr;
    const gvariant_ptr shuffle = CachedProperty(proxy, "Shuffle", G_VARIANT_TYPE_BOOLEAN);
    facts.has_shuffle = shuffle != nullptr;
    facts.shuffle = shuffle && g_variant_get_boolean(shuffle.get());
    return facts;
}

}  // namespace mpris_helper
