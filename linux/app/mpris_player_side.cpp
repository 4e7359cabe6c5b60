#include "mpris_player_side.h"

#include "helper/followed_player.h"
#include "helper/glib_ptr.h"
#include "helper/log.h"
#include "helper/player_directory.h"
#include "player_command.h"

namespace nightjar::native {
namespace {

using Work = std::function<void()>;

gboolean RunWork(gpointer work)
{
    (*static_cast<Work*>(work))();
    return G_SOURCE_REMOVE;
}

void DeleteWork(gpointer work) { delete static_cast<Work*>(work); }

}  // namespace

MprisPlayerSide::MprisPlayerSide(std::string wanted, const Log& log)
    : wanted_(std::move(wanted)),
      log_(log),
      context_(g_main_context_new()),
      loop_(g_main_loop_new(context_.get(), FALSE))
{
}

MprisPlayerSide::~MprisPlayerSide() { Stop(); }

void MprisPlayerSide::Start(PlayerEvents& events)
{
    // The pieces' own log lines then read as the program's.
    mpris_helper::SetLogName("nightjar");
    std::promise<std::string> started;
    std::future<std::string> error = started.get_future();
    thread_ = std::thread([this, &events, started = std::move(started)]() mutable { Run(events, started); });
    const std::string failure = error.get();
    if (!failure.empty()) {
        thread_.join();
        throw PlayerSideError(failure);
    }
}

void MprisPlayerSide::Stop()
{
    if (!thread_.joinable()) return;
    // Queued rather than called: a quit before the loop runs would be lost.
    Post([this] { g_main_loop_quit(loop_.get()); });
    thread_.join();
}

void MprisPlayerSide::Carry(std::uint8_t byte, const app::Command& command)
{
    const std::optional<mpris_bridge::Command> mpris = MprisCommandFor(command);
    if (!mpris) {
        log_.Event("byte " + std::to_string(byte) + ": no MPRIS call for it");
        return;
    }
    Post([this, byte, call = *mpris] { RunCommand(byte, call); });
}

void MprisPlayerSide::Post(Work work)
{
    auto owned = std::make_unique<Work>(std::move(work));
    // GLib owns it from here and deletes it once run, or with the context.
    g_main_context_invoke_full(context_.get(), G_PRIORITY_DEFAULT, &RunWork, owned.release(), &DeleteWork);
}

void MprisPlayerSide::Run(PlayerEvents& events, std::promise<std::string>& started)
{
    g_main_context_push_thread_default(context_.get());
    {
        GError* raw = nullptr;
        const mpris_helper::gobject_ptr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
        const mpris_helper::gerror_ptr failure(raw);
        std::string error = bus ? WatchPlayers(bus.get(), events)
                                : std::string("no D-Bus session bus: ") + (failure ? failure->message : "unknown error");
        const bool running = error.empty();
        started.set_value(std::move(error));
        if (running) g_main_loop_run(loop_.get());
        // The followed player first: its reads and calls end with it.
        followed_.reset();
        directory_.reset();
    }
    g_main_context_pop_thread_default(context_.get());
}

std::string MprisPlayerSide::WatchPlayers(GDBusConnection* bus, PlayerEvents& events)
{
    directory_ = std::make_unique<mpris_helper::PlayerDirectory>(
        wanted_, [this, &events](const mpris_helper::PlayerHandle* player) { Follow(player, events); },
        std::function<void()>{});
    std::string error;
    if (!directory_->Start(bus, error)) return "cannot watch for players: " + error;
    return {};
}

void MprisPlayerSide::Follow(const mpris_helper::PlayerHandle* player, PlayerEvents& events)
{
    followed_.reset();
    if (!player) {
        events.PlayerGone();
        return;
    }
    const auto report = [this, &events] { ReportTrack(events); };
    followed_ = std::make_unique<mpris_helper::FollowedPlayer>(*player, mpris_helper::FollowedPlayer::Callbacks{report, {}});
    ReportTrack(events);
}

void MprisPlayerSide::ReportTrack(PlayerEvents& events)
{
    const mpris_bridge::ComposedTitle& track = followed_->Track();
    events.TrackChanged(Track{track.artist, track.title});
}

void MprisPlayerSide::RunCommand(std::uint8_t byte, mpris_bridge::Command command)
{
    const std::string what = "byte " + std::to_string(byte) + ": " + std::string(mpris_bridge::CommandName(command));
    if (!followed_) {
        log_.Error(what + ": no player to carry it out");
        return;
    }
    log_.Event(what + " -> " + followed_->Instance());
    followed_->Run(command);
}

}  // namespace nightjar::native
