#include "command_plan.h"

namespace mpris_bridge {
namespace {

Plan Do(Action action) noexcept { return Plan{action, 0, false, {}}; }
Plan Refuse(std::string_view why) noexcept { return Plan{Action::Nothing, 0, false, why}; }

Plan PlanPause(const PlayerFacts& facts) noexcept
{
    // The media player's Pause is a toggle between playing and paused and
    // leaves a stopped player alone.
    switch (facts.state) {
    case PlayState::Playing:
        return facts.can_pause ? Do(Action::Pause) : Refuse("the player cannot pause");
    case PlayState::Paused:
        return facts.can_play ? Do(Action::Play) : Refuse("the player cannot play");
    case PlayState::Stopped:
        break;
    }
    return Refuse("pause while stopped does nothing");
}

Plan PlanSkip(const PlayerFacts& facts, int64_t offset) noexcept
{
    if (facts.state == PlayState::Stopped) return Refuse("skipping while stopped does nothing");
    if (!facts.can_seek) return Refuse("the player cannot seek");
    return Plan{Action::Seek, offset, false, {}};
}

Plan PlanFade(const PlayerFacts& facts) noexcept
{
    if (!facts.can_control) return Refuse("the player cannot be controlled");
    if (facts.state == PlayState::Playing && facts.has_volume) return Do(Action::FadeThenStop);
    return Do(Action::Stop);
}

}  // namespace

Plan PlanCommand(Command command, const PlayerFacts& facts) noexcept
{
    switch (command) {
    case Command::Play:
        return facts.can_play ? Do(Action::Play) : Refuse("the player cannot play");
    case Command::Pause:
        return PlanPause(facts);
    case Command::Stop:
        return facts.can_control ? Do(Action::Stop) : Refuse("the player cannot be controlled");
    case Command::Next:
        return facts.can_go_next ? Do(Action::Next) : Refuse("the player cannot go to the next track");
    case Command::Previous:
        return facts.can_go_previous ? Do(Action::Previous) : Refuse("the player cannot go to the previous track");
    case Command::SkipForward:
        return PlanSkip(facts, kSkipUs);
    case Command::SkipBack:
        return PlanSkip(facts, -kSkipUs);
    case Command::FadeAndStop:
        return PlanFade(facts);
    case Command::Shuffle:
        if (!facts.can_control || !facts.has_shuffle) return Refuse("the player has no shuffle");
        return Plan{Action::SetShuffle, 0, !facts.shuffle, {}};
    case Command::Quit:
        return facts.can_quit ? Do(Action::Quit) : Refuse("the player cannot quit");
    }
    return Refuse("unknown command");
}

}  // namespace mpris_bridge
