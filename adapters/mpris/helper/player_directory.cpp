#include "player_directory.h"

#include <algorithm>

#include "log.h"
#include "player_calls.h"

namespace mpris_helper {
namespace {

int64_t NowMs() { return g_get_monotonic_time() / 1000; }

bool IsPlaying(GDBusProxy* proxy)
{
    const gvariant_ptr status = CachedProperty(proxy, "PlaybackStatus", G_VARIANT_TYPE_STRING);
    return status && std::string_view(g_variant_get_string(status.get(), nullptr)) == "Playing";
}

template <typename Callback>
unique_signal Connect(gpointer instance, const char* signal, Callback callback, gpointer data)
{
    return unique_signal(instance, g_signal_connect(instance, signal, G_CALLBACK(callback), data));
}

}  // namespace

struct PlayerDirectory::Entry {
    PlayerDirectory* owner = nullptr;
    mpris_bridge::Candidate candidate;
    owned_cancellable creating;
    unique_source late;
    gobject_ptr<GDBusProxy> proxy;  // set once the player has answered
    unique_signal changed;
    bool there_at_start = false;    // and not yet heard of since
};

PlayerDirectory::PlayerDirectory(std::string wanted, std::function<void(const PlayerHandle*)> follow,
                                 std::function<void()> settled)
    : wanted_(std::move(wanted)), follow_(std::move(follow)), on_settled_(std::move(settled))
{
}

PlayerDirectory::~PlayerDirectory() = default;

bool PlayerDirectory::Start(GDBusConnection* bus, std::string& error)
{
    bus_ = bus;
    GError* raw = nullptr;
    manager_.reset(playerctl_player_manager_new(&raw));
    gerror_ptr failure(raw);
    if (!manager_) {
        error = failure ? failure->message : "cannot watch the bus for players";
        return false;
    }
    appeared_ = Connect(manager_.get(), "name-appeared", &PlayerDirectory::OnNameAppeared, this);
    vanished_ = Connect(manager_.get(), "name-vanished", &PlayerDirectory::OnNameVanished, this);
    GList* names = nullptr;
    g_object_get(manager_.get(), "player-names", &names, nullptr);
    for (GList* item = names; item; item = item->next) Add(static_cast<PlayerctlPlayerName*>(item->data));
    started_ = true;
    if (unheard_at_start_ == 0) {
        settled_ = true;
        if (on_settled_) on_settled_();
    }
    return true;
}

void PlayerDirectory::OnNameAppeared(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self)
{
    static_cast<PlayerDirectory*>(self)->Add(name);
}

void PlayerDirectory::OnNameVanished(PlayerctlPlayerManager*, PlayerctlPlayerName* name, gpointer self)
{
    if (name->source == PLAYERCTL_SOURCE_DBUS_SESSION) static_cast<PlayerDirectory*>(self)->Remove(name->instance);
}

void PlayerDirectory::Add(const PlayerctlPlayerName* name)
{
    // playerctld stands in for other players; following it would count them twice.
    if (name->source != PLAYERCTL_SOURCE_DBUS_SESSION || g_strcmp0(name->name, "playerctld") == 0) return;
    const std::string instance = name->instance;
    if (std::any_of(entries_.begin(), entries_.end(),
                    [&](const auto& e) { return e->candidate.instance == instance; })) {
        return;
    }
    auto entry = std::make_unique<Entry>();
    entry->owner = this;
    entry->candidate = {name->name, instance, false, 0, ++appearances_, ""};
    Log("player found: " + instance);
    // Properties load and signals are watched before the proxy is handed
    // over; the player's answer may take long, but nothing waits for it.
    g_dbus_proxy_new(bus_, G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, nullptr, (kBusNamePrefix + instance).c_str(),
                     kObjectPath, kPlayerInterface, entry->creating.get(), &PlayerDirectory::OnProxyReady,
                     entry.get());
    entry->late = AddTimeout(kCallBoundMs, &PlayerDirectory::OnProxyLate, entry.get());
    entry->there_at_start = !started_;
    if (entry->there_at_start) ++unheard_at_start_;
    entries_.push_back(std::move(entry));
}

gboolean PlayerDirectory::OnProxyLate(gpointer data)
{
    auto* entry = static_cast<Entry*>(data);
    entry->late = {};
    Log(entry->candidate.instance + " has not answered within " + std::to_string(kCallBoundMs / 1000) +
        " s; it is left aside until it does");
    entry->owner->Heard(*entry);
    entry->owner->Reconsider();  // an instance name may have waited for it
    return G_SOURCE_REMOVE;
}

void PlayerDirectory::OnProxyReady(GObject*, GAsyncResult* result, gpointer data)
{
    GError* raw = nullptr;
    gobject_ptr<GDBusProxy> proxy(g_dbus_proxy_new_finish(result, &raw));
    gerror_ptr failure(raw);
    // Cancelled: the name went away, or the directory did.
    if (failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    auto* entry = static_cast<Entry*>(data);
    entry->late = {};
    if (!proxy) {
        Log("cannot follow " + entry->candidate.instance + ": " + (failure ? failure->message : "unknown error"));
        entry->owner->Reconsider();
    } else {
        entry->owner->Ready(*entry, std::move(proxy));
    }
    entry->owner->Heard(*entry);
}

void PlayerDirectory::Ready(Entry& entry, gobject_ptr<GDBusProxy> proxy)
{
    const gchar_ptr owner(g_dbus_proxy_get_name_owner(proxy.get()));
    entry.candidate.owner = owner ? owner.get() : "";
    entry.proxy = std::move(proxy);
    entry.changed = Connect(entry.proxy.get(), "g-properties-changed", &PlayerDirectory::OnProxyChanged, &entry);
    NoteStatus(entry);
    Reconsider();
}

void PlayerDirectory::OnProxyChanged(GDBusProxy*, GVariant* changed, GStrv, gpointer data)
{
    auto* entry = static_cast<Entry*>(data);
    const gvariant_ptr status(g_variant_lookup_value(changed, "PlaybackStatus", nullptr));
    if (!status) return;
    entry->owner->NoteStatus(*entry);
    entry->owner->Reconsider();
}

void PlayerDirectory::NoteStatus(Entry& entry)
{
    const bool playing = IsPlaying(entry.proxy.get());
    if (playing && !entry.candidate.playing) entry.candidate.last_playing = NowMs();
    entry.candidate.playing = playing;
}

void PlayerDirectory::Remove(const std::string& instance)
{
    const auto gone = std::find_if(entries_.begin(), entries_.end(),
                                   [&](const auto& e) { return e->candidate.instance == instance; });
    if (gone == entries_.end()) return;
    Log("player left: " + instance);
    if (gone->get() == followed_entry_) {
        followed_entry_ = nullptr;
        followed_left_ = true;
    }
    std::unique_ptr<Entry> entry = std::move(*gone);
    entries_.erase(gone);
    // A program that ends gives up its names one by one: what it still
    // owns is not followed for the moment in between.
    auto owns_a_name = [&](const std::string& owner) {
        return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) { return e->candidate.owner == owner; });
    };
    if (!entry->candidate.owner.empty() && owns_a_name(entry->candidate.owner)) {
        leaving_owners_.insert(entry->candidate.owner);
    }
    std::erase_if(leaving_owners_, [&](const std::string& owner) { return !owns_a_name(owner); });
    // Straight to the next one, so the bridge sees no gap between them.
    Reconsider();
    Heard(*entry);
}

// An instance name ("vlc.instance42") waits while the plain name of the
// same program ("vlc") has yet to answer, within the bound: the two are
// most likely one player, to be followed by its plain name.
bool PlayerDirectory::PlainNamePending(const Entry& entry) const
{
    const mpris_bridge::Candidate& c = entry.candidate;
    if (c.instance == c.name) return false;
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& other) {
        return other->candidate.instance == c.name && !other->proxy && other->late;
    });
}

// One of the players there at the start has answered, been left aside, or gone.
void PlayerDirectory::Heard(Entry& entry)
{
    if (!entry.there_at_start) return;
    entry.there_at_start = false;
    if (--unheard_at_start_ > 0 || !started_) return;
    settled_ = true;
    Reconsider();
    if (on_settled_) on_settled_();
}

void PlayerDirectory::Reconsider()
{
    std::vector<mpris_bridge::Candidate> candidates;
    std::vector<Entry*> answered;
    for (const auto& entry : entries_) {
        if (!entry->proxy || PlainNamePending(*entry) || leaving_owners_.count(entry->candidate.owner)) continue;
        candidates.push_back(entry->candidate);
        answered.push_back(entry.get());
    }
    const auto choice = mpris_bridge::ChooseFollowed(candidates, wanted_);
    Entry* next = choice ? answered[*choice] : nullptr;
    if (next == followed_entry_ && !followed_left_) return;
    followed_left_ = false;
    followed_entry_ = next;
    followed_ = next ? next->candidate.instance : "";
    if (next) {
        Log("following " + followed_);
        const PlayerHandle handle{followed_, next->proxy.get()};
        follow_(&handle);
    } else {
        Log("no player to follow");
        follow_(nullptr);
    }
}

}  // namespace mpris_helper
