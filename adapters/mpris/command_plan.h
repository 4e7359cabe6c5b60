// What one player command becomes on a player that speaks MPRIS, given what
// the player says it can do. Free of D-Bus so the whole table is tested
// natively; the helper carries the plan out.
#pragma once

#include <cstdint>
#include <string_view>

#include "line_protocol.h"

namespace mpris_bridge {

inline constexpr int64_t kSkipUs = 5'000'000;  // the media player's skip step
inline constexpr int64_t kFadeMs = 2000;

struct PlayerFacts {
    PlayState state = PlayState::Stopped;
    bool can_control = false;
    bool can_play = false;
    bool can_pause = false;
    bool can_seek = false;
    bool can_go_next = false;
    bool can_go_previous = false;
    bool can_quit = false;
    bool has_volume = false;
    bool has_shuffle = false;
    bool shuffle = false;
};

enum class Action { Nothing, Play, Pause, Stop, Next, Previous, Seek, FadeThenStop, SetShuffle, Quit };

struct Plan {
    Action action = Action::Nothing;
    int64_t seek_us = 0;    // Seek: the offset
    bool shuffle = false;   // SetShuffle: the new value
    std::string_view why;   // Nothing: the reason, for the log
};

Plan PlanCommand(Command command, const PlayerFacts& facts) noexcept;

}  // namespace mpris_bridge
