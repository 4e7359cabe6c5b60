#include "player_choice.h"

#include <tuple>

namespace mpris_bridge {
namespace {

bool SameOwner(const Candidate& a, const Candidate& b) noexcept { return !a.owner.empty() && a.owner == b.owner; }

// Wanted by the name of any of its owner's names.
bool GroupMatchesWanted(const std::vector<Candidate>& candidates, size_t index, std::string_view wanted) noexcept
{
    if (MatchesWanted(candidates[index], wanted)) return true;
    for (const Candidate& other : candidates) {
        if (SameOwner(other, candidates[index]) && MatchesWanted(other, wanted)) return true;
    }
    return false;
}

}  // namespace

bool MatchesWanted(const Candidate& candidate, std::string_view wanted) noexcept
{
    return wanted.empty() || candidate.name == wanted || candidate.instance == wanted;
}

bool StandsForItsOwner(const std::vector<Candidate>& candidates, size_t index) noexcept
{
    const Candidate& me = candidates[index];
    auto rank = [](const Candidate& c) { return std::make_tuple(c.instance == c.name, ~c.appeared); };
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (i != index && SameOwner(candidates[i], me) && rank(candidates[i]) > rank(me)) return false;
    }
    return true;
}

std::optional<size_t> ChooseFollowed(const std::vector<Candidate>& candidates, std::string_view wanted) noexcept
{
    std::optional<size_t> best;
    // Playing beats not playing, a later start beats an earlier one, and an
    // earlier appearance breaks the tie.
    auto rank = [](const Candidate& c) { return std::make_tuple(c.playing, c.last_playing, ~c.appeared); };
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!StandsForItsOwner(candidates, i) || !GroupMatchesWanted(candidates, i, wanted)) continue;
        if (!best || rank(candidates[i]) > rank(candidates[*best])) best = i;
    }
    return best;
}

}  // namespace mpris_bridge
