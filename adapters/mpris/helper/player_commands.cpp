#include "player_commands.h"

#include "log.h"
#include "player_calls.h"

namespace mpris_helper {
namespace {

using mpris_bridge::Action;

constexpr int kFadeSteps = 20;
constexpr guint kFadeStepMs = mpris_bridge::kFadeMs / kFadeSteps;

const char* MethodFor(Action action)
{
    switch (action) {
    case Action::Play: return "Play";
    case Action::Pause: return "Pause";
    case Action::Stop: return "Stop";
    case Action::Next: return "Next";
    case Action::Previous: return "Previous";
    default: return nullptr;
    }
}

std::string Names(const std::vector<mpris_bridge::Command>& commands)
{
    std::string names;
    for (const mpris_bridge::Command command : commands) names += " " + std::string(CommandName(command));
    return names;
}

}  // namespace

PlayerCommands::PlayerCommands(std::string instance, GDBusProxy* proxy,
                               std::function<mpris_bridge::PlayerFacts()> facts)
    : instance_(std::move(instance)), proxy_(G_DBUS_PROXY(g_object_ref(proxy))), facts_(std::move(facts))
{
}

PlayerCommands::~PlayerCommands()
{
    if (fade_timer_) FinishFade(false);
    if (!waiting_.empty()) Log(instance_ + " is no longer followed; dropped:" + Names(waiting_));
}

void PlayerCommands::Run(mpris_bridge::Command command)
{
    // Whatever comes during a fade ends it, with the volume put back.
    if (fade_timer_) FinishFade(false);
    waiting_.push_back(command);
    if (!probing_) Probe();
}

void PlayerCommands::Probe()
{
    probing_ = true;
    ReadProperty(proxy_.get(), kPlayerInterface, "PlaybackStatus", probe_.get(),
                 [this](GVariant* value) { OnProbeAnswer(value != nullptr); });
}

void PlayerCommands::OnProbeAnswer(bool answered)
{
    probing_ = false;
    std::vector<mpris_bridge::Command> commands = std::move(waiting_);
    waiting_.clear();
    if (!answered) {
        Log(instance_ + " does not answer; dropped:" + Names(commands));
        return;
    }
    for (const mpris_bridge::Command command : commands) Carry(command);
}

void PlayerCommands::Carry(mpris_bridge::Command command)
{
    const std::string name(mpris_bridge::CommandName(command));
    const mpris_bridge::Plan plan = mpris_bridge::PlanCommand(command, facts_());
    if (const char* method = MethodFor(plan.action)) {
        CallPlayer(proxy_.get(), method, nullptr, method, nullptr);
        return;
    }
    switch (plan.action) {
    case Action::Seek:
        CallPlayer(proxy_.get(), "Seek", g_variant_new("(x)", static_cast<gint64>(plan.seek_us)), "Seek", nullptr);
        break;
    case Action::FadeThenStop: StartFade(); break;
    case Action::SetShuffle:
        WriteProperty(proxy_.get(), "Shuffle", g_variant_new_boolean(plan.shuffle), "setting Shuffle", nullptr);
        break;
    case Action::Quit: CallObject(proxy_.get(), kRootInterface, "Quit", nullptr, "Quit", nullptr); break;
    default: Log(name + " does nothing: " + std::string(plan.why)); break;
    }
}

void PlayerCommands::StartFade()
{
    const gvariant_ptr volume = CachedProperty(proxy_.get(), "Volume", G_VARIANT_TYPE_DOUBLE);
    fade_from_ = volume ? g_variant_get_double(volume.get()) : 1.0;
    fade_step_ = 0;
    fade_timer_ = AddTimeout(kFadeStepMs, &PlayerCommands::OnFadeStep, this);
}

gboolean PlayerCommands::OnFadeStep(gpointer data)
{
    auto* self = static_cast<PlayerCommands*>(data);
    if (++self->fade_step_ >= kFadeSteps) {
        self->FinishFade(true);
        return G_SOURCE_REMOVE;
    }
    const double volume = self->fade_from_ * (kFadeSteps - self->fade_step_) / kFadeSteps;
    WriteProperty(self->proxy_.get(), "Volume", g_variant_new_double(volume), "fading", nullptr);
    return G_SOURCE_CONTINUE;
}

// Calls go out in order on one connection, so the player stops before its
// volume comes back.
void PlayerCommands::FinishFade(bool stop)
{
    fade_timer_ = {};
    if (stop) CallPlayer(proxy_.get(), "Stop", nullptr, "Stop", nullptr);
    WriteProperty(proxy_.get(), "Volume", g_variant_new_double(fade_from_), "restoring the volume", nullptr);
}

}  // namespace mpris_helper
