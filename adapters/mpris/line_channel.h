// One end of a line connection without its socket: what arrives is cut into
// lines (oversized ones refused), what is to go out waits in one bounded
// queue. The bridge (Winsock) and the helper (GLib) each move the bytes;
// both keep their lines here, with the same cap.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "line_protocol.h"

namespace mpris_bridge {

class LineChannel {
public:
    // A peer this far behind has stopped reading; waiting longer would only
    // grow the queue.
    static constexpr size_t kMaxQueued = 64 * 1024;

    void Received(std::string_view bytes) { splitter_.Feed(bytes); }
    std::optional<LineSplitter::Line> NextLine() { return splitter_.Next(); }

    // False, with nothing queued, when the line would take the queue past its
    // cap: the caller gives up on the peer.
    bool Queue(const Message& message);
    std::string_view Unsent() const noexcept { return std::string_view(queued_).substr(sent_); }
    // `bytes` of Unsent() have gone out.
    void Sent(size_t bytes) noexcept;
    bool HasUnsent() const noexcept { return sent_ < queued_.size(); }

    // For a new connection: nothing half-read, nothing queued.
    void Reset();

private:
    LineSplitter splitter_;
    std::string queued_;
    size_t sent_ = 0;
};

}  // namespace mpris_bridge
