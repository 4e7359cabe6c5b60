// Which of the players on the bus the bridge follows: the one named on the
// command line if any, else the one most recently seen playing, else the
// one that appeared first. Names owned by one bus connection are one
// player (VLC owns "vlc" and "vlc.instance<pid>"), taken by its plain name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mpris_bridge {

struct Candidate {
    std::string name;          // "mpv"
    std::string instance;      // "mpv.instance42": the bus name's last part
    bool playing = false;
    int64_t last_playing = 0;  // when it was last seen start playing; 0 never
    uint64_t appeared = 0;     // order of appearance
    std::string owner;         // the unique name of its bus connection; "" unknown
};

// True when `wanted` (empty: any) names this player or this instance.
bool MatchesWanted(const Candidate& candidate, std::string_view wanted) noexcept;

// Whether candidates[index] stands for its bus connection: no other name of
// the same owner is plainer (an instance-less name beats an instance) or,
// as plain, appeared earlier.
bool StandsForItsOwner(const std::vector<Candidate>& candidates, size_t index) noexcept;

std::optional<size_t> ChooseFollowed(const std::vector<Candidate>& candidates, std::string_view wanted) noexcept;

}  // namespace mpris_bridge
