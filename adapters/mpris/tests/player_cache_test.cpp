#include "player_cache.h"

#include <gtest/gtest.h>

namespace mpris_bridge {
namespace {

TEST(PlayerCache, AnswersTheQueriesAsThePlayerDoes)
{
    PlayerCache cache;
    cache.Apply(Status{PlayState::Paused, 61000, 1000, 214, 44100, 192}, 1000);
    EXPECT_EQ(cache.Answer(0, plavox::player::kPlayState, 5000), 3);
    EXPECT_EQ(cache.Answer(0, plavox::player::kPositionOrLength, 5000), 61000);  // paused: does not run
    EXPECT_EQ(cache.Answer(1, plavox::player::kPositionOrLength, 5000), 214);
    EXPECT_EQ(cache.Answer(2, plavox::player::kPositionOrLength, 5000), 0);
    EXPECT_EQ(cache.Answer(0, plavox::player::kTrackFormat, 5000), 44100);
    EXPECT_EQ(cache.Answer(1, plavox::player::kTrackFormat, 5000), 192);
    EXPECT_EQ(cache.Answer(0, plavox::player::kClearPlaylist, 5000), 0);
    EXPECT_EQ(cache.Answer(0, 999, 5000), 0);

    cache.Apply(Status{PlayState::Stopped, 0, 1000, 214, 0, 0}, 6000);
    EXPECT_EQ(cache.Answer(0, plavox::player::kPlayState, 9000), 0);
    EXPECT_EQ(cache.Answer(0, plavox::player::kPositionOrLength, 9000), 0);
    cache.Clear();
    EXPECT_EQ(cache.Answer(1, plavox::player::kPositionOrLength, 9000), 0);
}

TEST(PlayerCache, PositionRunsAtThePlaybackRateWhilePlaying)
{
    PlayerCache cache;
    cache.Apply(Status{PlayState::Playing, 10000, 1000, 100, 0, 0}, 500);
    EXPECT_EQ(cache.PositionMsAt(500), 10000);
    EXPECT_EQ(cache.PositionMsAt(2500), 12000);
    EXPECT_EQ(cache.PositionMsAt(100), 10000);  // a clock read before the status arrived
    EXPECT_EQ(cache.PositionMsAt(500 + 200000), 100000) << "held at the end of the track";

    cache.Apply(Status{PlayState::Playing, 0, 1500, 0, 0, 0}, 0);
    EXPECT_EQ(cache.PositionMsAt(2000), 3000);
    cache.Apply(Status{PlayState::Playing, 0, 0, 0, 0, 0}, 0);
    EXPECT_EQ(cache.PositionMsAt(2000), 0);
    // Unknown length and days of running: the answer stops at 32 bits.
    cache.Apply(Status{PlayState::Playing, 2'000'000'000, 1000, 0, 0, 0}, 0);
    EXPECT_EQ(cache.PositionMsAt(int64_t{1} << 50), INT32_MAX);
}

}  // namespace
}  // namespace mpris_bridge
