// What the native program needs of the player: it takes the calculator's
// player commands and reports the track it follows. The MPRIS side (the
// player directory, the followed player, the command plan of adapters/mpris)
// plugs in here; ScriptedPlayer stands in for it in tests.
#pragma once

#include <cstdint>
#include <string>

#include "main_loop.h"

namespace nightjar::native {

// Artist and title as the player side shows them, UTF-8, every character
// already in the calculator's repertoire (Windows-1252) as the Windows
// system's title composition leaves it.
struct Track {
    std::string artist;
    std::string title;
    bool operator==(const Track&) const = default;
};

// Reports from the player side, from any thread.
class PlayerEvents {
public:
    virtual ~PlayerEvents() = default;
    virtual void TrackChanged(const Track& track) = 0;
    // The followed player went away (and no other is followed yet).
    virtual void PlayerGone() = 0;
};

class PlayerSide {
public:
    virtual ~PlayerSide() = default;
    // Starts following a player and reporting to `events` until Stop.
    virtual void Start(PlayerEvents& events) = 0;
    // No event is reported once this returns.
    virtual void Stop() = 0;
    // A calculator byte the command table maps to a player call; `command`
    // is its entry (a Plavox member DISPID). Must not block the link.
    virtual void Carry(std::uint8_t byte, const app::Command& command) = 0;
};

}  // namespace nightjar::native
