#include "line_channel.h"

#include <algorithm>

namespace mpris_bridge {

bool LineChannel::Queue(const Message& message)
{
    const std::string line = Encode(message);
    if (queued_.size() - sent_ + line.size() > kMaxQueued) return false;
    // What has gone out is dropped only now, so a send costs no copy.
    queued_.erase(0, sent_);
    sent_ = 0;
    queued_ += line;
    return true;
}

void LineChannel::Sent(size_t bytes) noexcept
{
    sent_ = std::min(queued_.size(), sent_ + bytes);
    if (sent_ == queued_.size()) {
        queued_.clear();
        sent_ = 0;
    }
}

void LineChannel::Reset()
{
    splitter_.Reset();
    queued_.clear();
    sent_ = 0;
}

}  // namespace mpris_bridge
