#include "player.h"

#include <algorithm>
#include <utility>

namespace plavoxsim {

std::vector<Track> DefaultPlaylist()
{
    return {
        {"The Lantern Moths", "Cold Harbour", 214, 44100, 192},
        {"Zo\u00eb Marlowe", "Paper Satellites", 187, 44100, 256},
        {"Orchard Static", "Night Bus to Tallin", 263, 48000, 320},
        {"Quiet Engines", "Copperline", 158, 44100, 128},
        {"Mabel & the Fieldhands", "Salt Road - Live", 302, 22050, 96},
        {"Harrow Lane", "Glasshouse", 231, 44100, 192},
    };
}

Player::Player(std::vector<Track> playlist, int64_t now) : playlist_(std::move(playlist)), clock_(now)
{
    for (Track& track : playlist_) track.length_s = std::max<int32_t>(track.length_s, 1);
}

bool Player::SelectTrack(size_t number, int64_t now)
{
    if (number < 1 || number > playlist_.size()) return false;
    Update(now);
    MoveTo(number - 1);
    return true;
}

bool Player::HandleCommand(int id, int64_t now)
{
    Update(now);
    switch (id) {
    case kPlay:
        if (playlist_.empty()) break;
        // Play restarts a playing track and resumes a paused one.
        if (state_ != State::Paused) position_ms_ = 0;
        state_ = State::Playing;
        fade_ends_.reset();
        break;
    case kPause:
        if (state_ == State::Playing) {
            state_ = State::Paused;
        } else if (state_ == State::Paused) {
            state_ = State::Playing;
        }
        break;
    case kStop:
        Stop();
        break;
    case kNext:
        if (!playlist_.empty()) MoveTo(NextIndex());
        break;
    case kPrevious:
        if (!playlist_.empty()) MoveTo((index_ + playlist_.size() - 1) % playlist_.size());
        break;
    case kSkipForward:
        if (state_ == State::Stopped) break;
        position_ms_ += kSkipMs;
        RunClockUntil(now);  // a skip past the end moves on to the next track
        break;
    case kSkipBack:
        if (state_ == State::Stopped) break;
        position_ms_ = std::max<int64_t>(position_ms_ - kSkipMs, 0);
        break;
    case kFadeAndStop:
        if (state_ == State::Playing) {
            if (!fade_ends_) fade_ends_ = now + kFadeMs;
        } else {
            Stop();
        }
        break;
    case kShuffle:
        shuffle_ = !shuffle_;
        break;
    default:
        return false;
    }
    return true;
}

int32_t Player::HandleRequest(uint32_t wparam, uint32_t lparam, int64_t now)
{
    Update(now);
    const Track* track = CurrentTrack();
    switch (lparam) {
    case kClearPlaylist:
        Stop();
        playlist_.clear();
        index_ = 0;
        return 0;
    case kPlayState:
        return state_ == State::Playing ? 1 : state_ == State::Paused ? 3 : 0;
    case kPositionOrLength:
        if (!track) return -1;
        if (wparam == 0) return static_cast<int32_t>(position_ms_);
        if (wparam == 1) return track->length_s;
        return 0;
    case kTrackFormat:
        if (!track) return 0;
        if (wparam == 0) return track->sample_rate;
        if (wparam == 1) return track->bit_rate;
        return 0;
    default:
        return 0;
    }
}

State Player::StateAt(int64_t now)
{
    Update(now);
    return state_;
}

int32_t Player::PositionMsAt(int64_t now)
{
    Update(now);
    return static_cast<int32_t>(position_ms_);
}

bool Player::FadingAt(int64_t now)
{
    Update(now);
    return fade_ends_.has_value();
}

std::string Player::TitleAt(int64_t now)
{
    Update(now);
    const Track* track = CurrentTrack();
    if (!track) return "Plavox";
    return std::to_string(index_ + 1) + ". " + track->artist + " - " + track->title + " - Plavox";
}

std::optional<size_t> Player::CurrentIndex() const
{
    if (playlist_.empty()) return std::nullopt;
    return index_;
}

const Track* Player::CurrentTrack() const
{
    return playlist_.empty() ? nullptr : &playlist_[index_];
}

void Player::Update(int64_t now)
{
    // A caller's clock that steps back (it should not) only pauses time.
    if (now <= clock_) return;
    if (state_ != State::Playing) {
        clock_ = now;
        return;
    }
    const bool fade_over = fade_ends_ && *fade_ends_ <= now;
    RunClockUntil(fade_over ? std::max(*fade_ends_, clock_) : now);
    if (fade_over) Stop();
    clock_ = now;
}

// Moves the position on to `time` while playing, going on through the
// playlist (from the top after its end) as tracks run out.
void Player::RunClockUntil(int64_t time)
{
    if (state_ == State::Playing && time > clock_) position_ms_ += time - clock_;
    clock_ = std::max(clock_, time);
    if (playlist_.empty()) return;
    while (position_ms_ >= LengthMs()) {
        const int64_t overrun = position_ms_ - LengthMs();
        MoveTo(NextIndex());
        position_ms_ = overrun;
    }
}

void Player::Stop()
{
    state_ = State::Stopped;
    position_ms_ = 0;
    fade_ends_.reset();
}

void Player::MoveTo(size_t index)
{
    index_ = index;
    position_ms_ = 0;
}

size_t Player::NextIndex()
{
    const size_t count = playlist_.size();
    if (!shuffle_ || count < 2) return (index_ + 1) % count;
    // Same sequence on every run: tests can rely on it, listeners won't mind.
    shuffle_seed_ = shuffle_seed_ * 1664525u + 1013904223u;
    return (index_ + 1 + (shuffle_seed_ >> 8) % (count - 1)) % count;
}

int64_t Player::LengthMs() const
{
    return int64_t{playlist_[index_].length_s} * 1000;
}

}  // namespace plavoxsim
