// Which MPRIS command a calculator byte becomes: the same chain as on
// Windows, where Nightjar.exe's command table names a Plavox member, the
// member sends the player's window its WM_COMMAND number, and the MPRIS
// bridge maps that number to a command. Only the middle step is Plavox's
// own and lives in its Windows code; it is restated here from Plavox's
// published numbers (dispids.h, player_window.h).
#pragma once

#include <optional>

#include "line_protocol.h"
#include "main_loop.h"

namespace nightjar::native {

// Nothing for an entry that is no player call, or a member MPRIS has no
// call for (ClearPlaylist, LaunchFile, ...).
std::optional<mpris_bridge::Command> MprisCommandFor(const app::Command& command) noexcept;

}  // namespace nightjar::native
