#include "player_control.h"

#include "log.h"

namespace mpris_helper {
namespace {

using mpris_bridge::Action;

constexpr int kFadeSteps = 20;
constexpr guint kFadeStepMs = mpris_bridge::kFadeMs / kFadeSteps;
constexpr int kCallTimeoutMs = 5000;

void OnCallDone(GObject* bus, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::string> what(static_cast<std::string*>(data));
    GError* raw = nullptr;
    gvariant_ptr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &raw));
    gerror_ptr failure(raw);
    if (failure) Log(*what + " failed: " + failure->message);
}

}  // namespace

PlayerControl::~PlayerControl()
{
    if (fade_timer_) FinishFade(false);
}

void PlayerControl::Run(mpris_bridge::Command command)
{
    const std::string name(mpris_bridge::CommandName(command));
    if (!tracker_.Present()) {
        Log(name + ": no player");
        return;
    }
    // Whatever comes during a fade ends it, with the volume put back.
    if (fade_timer_) FinishFade(false);
    const mpris_bridge::Plan plan = mpris_bridge::PlanCommand(command, tracker_.Facts());
    if (plan.action == Action::Nothing) {
        Log(name + " does nothing: " + std::string(plan.why));
        return;
    }
    Carry(plan);
}

void PlayerControl::Carry(const mpris_bridge::Plan& plan)
{
    switch (plan.action) {
    case Action::Play: CallPlayer("Play", nullptr); break;
    case Action::Pause: CallPlayer("Pause", nullptr); break;
    case Action::Stop: CallPlayer("Stop", nullptr); break;
    case Action::Next: CallPlayer("Next", nullptr); break;
    case Action::Previous: CallPlayer("Previous", nullptr); break;
    case Action::Seek: CallPlayer("Seek", g_variant_new("(x)", static_cast<gint64>(plan.seek_us))); break;
    case Action::FadeThenStop: StartFade(); break;
    case Action::SetShuffle: SetPlayerProperty("Shuffle", g_variant_new_boolean(plan.shuffle)); break;
    case Action::Quit: CallRoot("Quit"); break;
    case Action::Nothing: break;
    }
}

void PlayerControl::CallPlayer(const char* method, GVariant* parameters)
{
    Call(tracker_.BusName(), kPlayerInterface, method, parameters, method);
}

void PlayerControl::CallRoot(const char* method)
{
    Call(tracker_.BusName(), kRootInterface, method, nullptr, method);
}

void PlayerControl::SetPlayerProperty(const char* name, GVariant* value)
{
    Call(tracker_.BusName(), "org.freedesktop.DBus.Properties", "Set",
         g_variant_new("(ssv)", kPlayerInterface, name, value), std::string("setting ") + name);
}

void PlayerControl::Call(const std::string& bus_name, const char* interface, const char* method,
                         GVariant* parameters, std::string what)
{
    g_dbus_connection_call(tracker_.Bus(), bus_name.c_str(), kObjectPath, interface, method, parameters, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &OnCallDone,
                           new std::string(std::move(what)));
}

void PlayerControl::StartFade()
{
    fade_bus_name_ = tracker_.BusName();
    fade_from_ = tracker_.Volume();
    fade_step_ = 0;
    fade_timer_ = AddTimeout(kFadeStepMs, &PlayerControl::OnFadeStep, this);
}

gboolean PlayerControl::OnFadeStep(gpointer data)
{
    auto* self = static_cast<PlayerControl*>(data);
    // The player went away or another took over: leave it be.
    if (self->tracker_.BusName() != self->fade_bus_name_) {
        self->fade_timer_ = {};
        return G_SOURCE_REMOVE;
    }
    if (++self->fade_step_ >= kFadeSteps) {
        self->FinishFade(true);
        return G_SOURCE_REMOVE;
    }
    const double volume = self->fade_from_ * (kFadeSteps - self->fade_step_) / kFadeSteps;
    self->Call(self->fade_bus_name_, "org.freedesktop.DBus.Properties", "Set",
               g_variant_new("(ssv)", kPlayerInterface, "Volume", g_variant_new_double(volume)), "fading");
    return G_SOURCE_CONTINUE;
}

// Calls go out in order on one connection, so the player stops before its
// volume comes back.
void PlayerControl::FinishFade(bool stop)
{
    fade_timer_ = {};
    if (stop) Call(fade_bus_name_, kPlayerInterface, "Stop", nullptr, "Stop");
    Call(fade_bus_name_, "org.freedesktop.DBus.Properties", "Set",
         g_variant_new("(ssv)", kPlayerInterface, "Volume", g_variant_new_double(fade_from_)), "restoring the volume");
}

}  // namespace mpris_helper
