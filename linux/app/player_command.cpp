#include "player_command.h"

#include "plavox/dispids.h"
#include "plavox/player_window.h"

namespace nightjar::native {
namespace {

struct MemberMessage {
    std::int32_t dispid;
    int player_command;  // the WM_COMMAND number the member sends
};

// As PlavoxControl's members send them (playerctl/plavox_control.cpp).
constexpr MemberMessage kMemberMessages[] = {
    {plavox::DISPID_PlayTrack, plavox::player::kPlay},
    {plavox::DISPID_PauseTrack, plavox::player::kPause},
    {plavox::DISPID_StopTrack, plavox::player::kStop},
    {plavox::DISPID_NextTrack, plavox::player::kNext},
    {plavox::DISPID_PrevTrack, plavox::player::kPrevious},
    {plavox::DISPID_SkipFwd, plavox::player::kSkipForward},
    {plavox::DISPID_SkipBack, plavox::player::kSkipBack},
    {plavox::DISPID_FadeAndStop, plavox::player::kFadeAndStop},
    {plavox::DISPID_Shuffle, plavox::player::kShuffle},
};

}  // namespace

std::optional<mpris_bridge::Command> MprisCommandFor(const app::Command& command) noexcept
{
    if (command.kind != app::CommandKind::Player) return std::nullopt;
    // KillPlavox closes the player's window, which the bridge takes as Quit.
    if (command.dispid == plavox::DISPID_KillPlavox) return mpris_bridge::Command::Quit;
    for (const MemberMessage& entry : kMemberMessages)
        if (entry.dispid == command.dispid) return mpris_bridge::CommandForPlayerCommandId(entry.player_command);
    return std::nullopt;
}

}  // namespace nightjar::native
