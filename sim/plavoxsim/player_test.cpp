#include "player.h"

#include <gtest/gtest.h>

#include <set>

#include "cli.h"

namespace plavoxsim {
namespace {

std::vector<Track> ThreeShortTracks()
{
    return {
        {"Alpha", "One", 10, 44100, 128},
        {"Beta", "Two", 20, 48000, 192},
        {"Gamma", "Three", 30, 22050, 320},
    };
}

int32_t PlayState(Player& player, int64_t now) { return player.HandleRequest(0, kPlayState, now); }

TEST(PlayerTitle, ShowsNumberArtistAndTitleInEveryState)
{
    Player player(ThreeShortTracks());
    EXPECT_EQ("1. Alpha - One - Plavox", player.TitleAt(0));
    player.HandleCommand(kPlay, 0);
    player.HandleCommand(kNext, 100);
    EXPECT_EQ("2. Beta - Two - Plavox", player.TitleAt(200));
    player.HandleCommand(kPause, 300);
    EXPECT_EQ("2. Beta - Two - Plavox", player.TitleAt(400));
    player.HandleCommand(kStop, 500);
    EXPECT_EQ("2. Beta - Two - Plavox", player.TitleAt(600));
}

TEST(PlayerTitle, DefaultPlaylistCarriesNonAsciiText)
{
    Player player;
    ASSERT_GE(player.TrackCount(), 5u);
    ASSERT_TRUE(player.SelectTrack(2, 0));
    EXPECT_EQ("2. Zo\xC3\xAB Marlowe - Paper Satellites - Plavox", player.TitleAt(0));
}

TEST(PlayerTransport, PositionRunsOnlyWhilePlaying)
{
    Player player(ThreeShortTracks());
    EXPECT_EQ(0, PlayState(player, 0));
    EXPECT_EQ(0, player.PositionMsAt(5000));

    player.HandleCommand(kPlay, 5000);
    EXPECT_EQ(1, PlayState(player, 6500));
    EXPECT_EQ(1500, player.HandleRequest(0, kPositionOrLength, 6500));

    player.HandleCommand(kPause, 7000);
    EXPECT_EQ(3, PlayState(player, 9000));
    EXPECT_EQ(2000, player.PositionMsAt(9000));

    player.HandleCommand(kPause, 9000);  // pause again resumes
    EXPECT_EQ(2500, player.PositionMsAt(9500));

    player.HandleCommand(kStop, 9500);
    EXPECT_EQ(0, PlayState(player, 9600));
    EXPECT_EQ(0, player.PositionMsAt(12000));
}

TEST(PlayerTransport, PlayResumesPausedAndRestartsPlaying)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPlay, 0);
    player.HandleCommand(kPause, 3000);
    player.HandleCommand(kPlay, 4000);
    EXPECT_EQ(3500, player.PositionMsAt(4500));
    player.HandleCommand(kPlay, 4500);
    EXPECT_EQ(0, player.PositionMsAt(4500));
    EXPECT_EQ(State::Playing, player.StateAt(4500));
}

TEST(PlayerTransport, RunsOnThroughThePlaylistAndWraps)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPlay, 0);
    EXPECT_EQ(0u, player.CurrentIndex());
    EXPECT_EQ(500, player.PositionMsAt(10500));  // 10 s track over
    EXPECT_EQ(1u, player.CurrentIndex());
    // One long gap covers the rest of track 2 and all of track 3.
    EXPECT_EQ(1000, player.PositionMsAt(10000 + 20000 + 30000 + 1000));
    EXPECT_EQ(0u, player.CurrentIndex());
    EXPECT_EQ(State::Playing, player.StateAt(61000));
}

TEST(PlayerTransport, NextAndPreviousWrapAndKeepTheState)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPrevious, 0);
    EXPECT_EQ(2u, player.CurrentIndex());
    EXPECT_EQ(State::Stopped, player.StateAt(0));

    player.HandleCommand(kPlay, 0);
    player.HandleCommand(kNext, 4000);
    EXPECT_EQ(0u, player.CurrentIndex());
    EXPECT_EQ(0, player.PositionMsAt(4000));
    EXPECT_EQ(State::Playing, player.StateAt(4000));
}

TEST(PlayerTransport, SkipsMoveFiveSecondsWithinTheTrack)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kSkipForward, 0);
    EXPECT_EQ(0, player.PositionMsAt(0)) << "a stopped player does not skip";

    player.HandleCommand(kPlay, 0);
    player.HandleCommand(kSkipBack, 2000);
    EXPECT_EQ(0, player.PositionMsAt(2000));
    player.HandleCommand(kSkipForward, 2000);
    EXPECT_EQ(5000, player.PositionMsAt(2000));
    player.HandleCommand(kSkipBack, 3000);
    EXPECT_EQ(1000, player.PositionMsAt(3000));

    // Past the end of the 10 s track: on to the next one.
    player.HandleCommand(kSkipForward, 3000);
    player.HandleCommand(kSkipForward, 3000);
    EXPECT_EQ(1u, player.CurrentIndex());
    EXPECT_EQ(1000, player.PositionMsAt(3000));
}

TEST(PlayerTransport, FadeAndStopStopsAfterTheFade)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPlay, 0);
    player.HandleCommand(kFadeAndStop, 1000);
    EXPECT_TRUE(player.FadingAt(1000 + kFadeMs - 1));
    EXPECT_EQ(1, PlayState(player, 1000 + kFadeMs - 1));
    EXPECT_EQ(0, PlayState(player, 1000 + kFadeMs));
    EXPECT_EQ(0, player.PositionMsAt(1000 + kFadeMs));
    EXPECT_FALSE(player.FadingAt(1000 + kFadeMs));

    // Play during a fade keeps playing.
    player.HandleCommand(kPlay, 10000);
    player.HandleCommand(kFadeAndStop, 10000);
    player.HandleCommand(kPlay, 10500);
    EXPECT_EQ(State::Playing, player.StateAt(10000 + 3 * kFadeMs));

    // Paused or stopped: it stops at once.
    player.HandleCommand(kPause, 20000);
    player.HandleCommand(kFadeAndStop, 20000);
    EXPECT_EQ(State::Stopped, player.StateAt(20000));
}

TEST(PlayerTransport, ShuffleTogglesAndNeverRepeatsTheCurrentTrack)
{
    Player a, b;
    EXPECT_FALSE(a.Shuffle());
    a.HandleCommand(kShuffle, 0);
    b.HandleCommand(kShuffle, 0);
    EXPECT_TRUE(a.Shuffle());
    std::set<size_t> seen;
    for (int i = 0; i < 30; ++i) {
        const size_t before = *a.CurrentIndex();
        a.HandleCommand(kNext, 0);
        b.HandleCommand(kNext, 0);
        EXPECT_NE(before, *a.CurrentIndex());
        EXPECT_EQ(a.CurrentIndex(), b.CurrentIndex());
        seen.insert(*a.CurrentIndex());
    }
    EXPECT_GT(seen.size(), 3u);
    a.HandleCommand(kShuffle, 0);
    EXPECT_FALSE(a.Shuffle());
}

TEST(PlayerTransport, UnknownCommandChangesNothing)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPlay, 0);
    EXPECT_FALSE(player.HandleCommand(40001, 1000));
    EXPECT_EQ(State::Playing, player.StateAt(1000));
    EXPECT_EQ(1000, player.PositionMsAt(1000));
}

TEST(PlayerRequests, AnswerTheQueries)
{
    Player player(ThreeShortTracks());
    player.SelectTrack(2, 0);
    EXPECT_EQ(20, player.HandleRequest(1, kPositionOrLength, 0));
    EXPECT_EQ(48000, player.HandleRequest(0, kTrackFormat, 0));
    EXPECT_EQ(192, player.HandleRequest(1, kTrackFormat, 0));
    EXPECT_EQ(0, player.HandleRequest(0, 999, 0));
    EXPECT_FALSE(player.SelectTrack(4, 0));
    EXPECT_FALSE(player.SelectTrack(0, 0));
    EXPECT_EQ(1u, player.CurrentIndex());
}

TEST(PlayerRequests, ClearedPlaylistStopsAndIgnoresTransport)
{
    Player player(ThreeShortTracks());
    player.HandleCommand(kPlay, 0);
    EXPECT_EQ(0, player.HandleRequest(0, kClearPlaylist, 1000));
    EXPECT_EQ(0u, player.TrackCount());
    EXPECT_EQ("Plavox", player.TitleAt(1000));
    for (int command : {kPlay, kNext, kPrevious, kSkipForward, kSkipBack, kFadeAndStop, kPause})
        player.HandleCommand(command, 2000);
    EXPECT_EQ(0, PlayState(player, 3000));
    EXPECT_EQ(-1, player.HandleRequest(0, kPositionOrLength, 3000));
    EXPECT_EQ(-1, player.HandleRequest(1, kPositionOrLength, 3000));
    EXPECT_EQ(0, player.HandleRequest(0, kTrackFormat, 3000));
    EXPECT_EQ(nullptr, player.CurrentTrack());
}

TEST(PlayerClock, StepsBackDoNotRewindOrCrash)
{
    Player player(ThreeShortTracks(), 10000);
    player.HandleCommand(kPlay, 10000);
    EXPECT_EQ(2000, player.PositionMsAt(12000));
    EXPECT_EQ(2000, player.PositionMsAt(11000));
    EXPECT_EQ(3000, player.PositionMsAt(13000));
}

TEST(PlayerClock, ZeroLengthTracksStillAdvance)
{
    Player player({{"A", "B", 0, 0, 0}, {"C", "D", -5, 0, 0}});
    player.HandleCommand(kPlay, 0);
    EXPECT_EQ(500, player.PositionMsAt(1500));
    EXPECT_EQ(1u, player.CurrentIndex());
}

TEST(CommandLine, ParsesPlayerOptions)
{
    std::string error;
    auto options = ParseOptions({"--log", "C:\\x.log", "--title", "Odd - Title", "--track", "3", "--play"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ("C:\\x.log", options->log_path);
    EXPECT_EQ("Odd - Title", options->title);
    EXPECT_EQ(3u, options->track);
    EXPECT_TRUE(options->play);
    EXPECT_FALSE(options->IsHelper());

    options = ParseOptions({"--title", ""}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ("", options->title);
}

TEST(CommandLine, ParsesHelperVerbs)
{
    std::string error;
    auto options = ParseOptions({"--send", "40048"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(40048, options->send_command);
    options = ParseOptions({"--ask", "105", "1"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(105u, options->ask_lparam);
    EXPECT_EQ(1u, options->ask_wparam);
    options = ParseOptions({"--ask", "104"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(0u, options->ask_wparam);
    EXPECT_TRUE(ParseOptions({"--close"}, error)->IsHelper());
}

TEST(CommandLine, RejectsBadInput)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--track"},          {"--track", "0"},       {"--track", "two"}, {"--track", "-1"},
        {"--log"},            {"--log", ""},          {"--send", "x"},    {"--ask", "104", "y"},
        {"--send", "1", "--close"}, {"--frobnicate"}, {"--send", "40045junk"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(ParseOptions(args, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(CommandLine, LogLines)
{
    EXPECT_EQ("WM_COMMAND 40045 0\n", LogLine("WM_COMMAND", 40045, 0));
    EXPECT_EQ("WM_USER 1 105\n", LogLine("WM_USER", 1, 105));
    EXPECT_EQ("WM_USER 0 -1\n", LogLine("WM_USER", 0, -1));
    EXPECT_EQ("WM_COMMAND 40045 0 @1700000000.000042\n", LogLine("WM_COMMAND", 40045, 0, 1700000000000042));
}

TEST(CommandLine, LogTimesNeedALog)
{
    std::string error;
    auto options = ParseOptions({"--log-times", "--log", "x.log"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->log_times);
    EXPECT_FALSE(ParseOptions({"--log-times"}, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace plavoxsim
