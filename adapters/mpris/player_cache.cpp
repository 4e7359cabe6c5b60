#include "player_cache.h"

#include <algorithm>
#include <limits>

namespace mpris_bridge {

void PlayerCache::Apply(const Status& status, int64_t now_ms) noexcept
{
    status_ = status;
    received_ms_ = now_ms;
}

void PlayerCache::Clear() noexcept { Apply(Status{}, 0); }

int32_t PlayerCache::PositionMsAt(int64_t now_ms) const noexcept
{
    int64_t position = status_.position_ms;
    if (status_.state == PlayState::Playing && now_ms > received_ms_) {
        // Milliseconds times per-mille stays far inside 64 bits for any
        // elapsed time a 32-bit answer can carry.
        const int64_t elapsed = std::min<int64_t>(now_ms - received_ms_, int64_t{1} << 40);
        position += elapsed * status_.rate_per_mille / 1000;
    }
    // Until the helper reports the next track, the position stays at the end
    // of this one rather than running past it.
    if (status_.length_s > 0) position = std::min<int64_t>(position, int64_t{status_.length_s} * 1000);
    return static_cast<int32_t>(std::clamp<int64_t>(position, 0, std::numeric_limits<int32_t>::max()));
}

int32_t PlayerCache::Answer(uint32_t wparam, uint32_t lparam, int64_t now_ms) const noexcept
{
    switch (lparam) {
    case plavox::player::kPlayState:
        return static_cast<int32_t>(status_.state);
    case plavox::player::kPositionOrLength:
        if (wparam == 0) return PositionMsAt(now_ms);
        if (wparam == 1) return status_.length_s;
        return 0;
    case plavox::player::kTrackFormat:
        if (wparam == 0) return status_.freq_hz;
        if (wparam == 1) return status_.kbps;
        return 0;
    default:
        // Clearing the playlist included: there is nothing to answer but 0.
        return 0;
    }
}

}  // namespace mpris_bridge
