// The media player simulator's player: a small playlist, the transport
// states with a position that runs while playing, the window title the real
// player shows, and its answers to the WM_USER queries. No window here: the
// caller hands in the time (milliseconds on any steady clock) with every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <plavox/player_window.h>

namespace plavoxsim {

// The numbers the player answers to are Plavox's.
using plavox::player::Command;
using plavox::player::Request;
using enum plavox::player::Command;
using enum plavox::player::Request;

enum class State { Stopped, Playing, Paused };

struct Track {
    std::string artist;  // UTF-8
    std::string title;
    int32_t length_s;
    int32_t sample_rate;
    int32_t bit_rate;
};

// A handful of invented tracks, one with a non-ASCII artist.
std::vector<Track> DefaultPlaylist();

inline constexpr int64_t kSkipMs = 5000;
inline constexpr int64_t kFadeMs = 2000;

class Player {
public:
    // Tracks shorter than a second are lengthened to one second so that the
    // running position always has somewhere to go.
    explicit Player(std::vector<Track> playlist = DefaultPlaylist(), int64_t now = 0);

    // Selects track `number` (1-based) as --track does; false when there is none.
    bool SelectTrack(size_t number, int64_t now);

    // A WM_COMMAND; false (and nothing changes) for a number the player does not know.
    bool HandleCommand(int id, int64_t now);
    // A WM_USER request; the answer the player returns from SendMessage.
    int32_t HandleRequest(uint32_t wparam, uint32_t lparam, int64_t now);

    State StateAt(int64_t now);
    int32_t PositionMsAt(int64_t now);
    bool FadingAt(int64_t now);
    // "N. Artist - Title - Plavox", whatever the state; "Plavox" with an empty playlist.
    std::string TitleAt(int64_t now);

    // Index of the current track, or nothing with an empty playlist.
    std::optional<size_t> CurrentIndex() const;
    const Track* CurrentTrack() const;
    size_t TrackCount() const { return playlist_.size(); }
    bool Shuffle() const { return shuffle_; }

private:
    void Update(int64_t now);
    void RunClockUntil(int64_t time);
    void Stop();
    void MoveTo(size_t index);
    size_t NextIndex();
    int64_t LengthMs() const;

    std::vector<Track> playlist_;
    size_t index_ = 0;
    State state_ = State::Stopped;
    int64_t position_ms_ = 0;
    int64_t clock_ = 0;  // time up to which position_ms_ is accounted for
    std::optional<int64_t> fade_ends_;
    bool shuffle_ = false;
    uint32_t shuffle_seed_ = 0x2545F491;
};

}  // namespace plavoxsim
