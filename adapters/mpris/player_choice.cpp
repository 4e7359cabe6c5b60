#include "player_choice.h"

#include <tuple>

namespace mpris_bridge {

bool MatchesWanted(const Candidate& candidate, std::string_view wanted) noexcept
{
    return wanted.empty() || candidate.name == wanted || candidate.instance == wanted;
}

std::optional<size_t> ChooseFollowed(const std::vector<Candidate>& candidates, std::string_view wanted) noexcept
{
    std::optional<size_t> best;
    // Playing beats not playing, a later start beats an earlier one, and an
    // earlier appearance breaks the tie.
    auto rank = [](const Candidate& c) { return std::make_tuple(c.playing, c.last_playing, ~c.appeared); };
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!MatchesWanted(candidates[i], wanted)) continue;
        if (!best || rank(candidates[i]) > rank(candidates[*best])) best = i;
    }
    return best;
}

}  // namespace mpris_bridge
