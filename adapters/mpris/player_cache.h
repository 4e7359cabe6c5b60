// What the bridge window answers Plavox's WM_USER queries from: the last
// status the helper sent, with the position carried forward at the playback
// rate while playing. Answers come from here at once, never from the bus.
#pragma once

#include <cstdint>

#include <plavox/player_window.h>

#include "line_protocol.h"

namespace mpris_bridge {

class PlayerCache {
public:
    // `now_ms` is the receiver's steady clock when the status arrived.
    void Apply(const Status& status, int64_t now_ms) noexcept;
    void Clear() noexcept;

    int32_t Answer(uint32_t wparam, uint32_t lparam, int64_t now_ms) const noexcept;
    int32_t PositionMsAt(int64_t now_ms) const noexcept;
    const Status& Last() const noexcept { return status_; }

private:
    Status status_;
    int64_t received_ms_ = 0;
};

}  // namespace mpris_bridge
