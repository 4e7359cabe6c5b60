#include "player_choice.h"

#include <gtest/gtest.h>

namespace mpris_bridge {
namespace {

TEST(PlayerChoice, FollowsTheMostRecentlyPlayingOrTheNamedOne)
{
    std::vector<Candidate> players = {
        {"vlc", "vlc", false, 0, 1, ""},
        {"mpv", "mpv.instance7", false, 0, 2, ""},
    };
    EXPECT_EQ(ChooseFollowed({}, ""), std::nullopt);
    EXPECT_EQ(ChooseFollowed(players, ""), 0u) << "nobody has played: the first to appear";
    players[1].playing = true;
    players[1].last_playing = 50;
    EXPECT_EQ(ChooseFollowed(players, ""), 1u);
    players[0].playing = true;
    players[0].last_playing = 80;
    EXPECT_EQ(ChooseFollowed(players, ""), 0u) << "the later start wins";
    players[0].playing = false;
    EXPECT_EQ(ChooseFollowed(players, ""), 1u) << "a playing one beats one that played last";
    players[1].playing = false;
    EXPECT_EQ(ChooseFollowed(players, ""), 0u) << "none playing: the last that played";

    EXPECT_EQ(ChooseFollowed(players, "mpv"), 1u);
    EXPECT_EQ(ChooseFollowed(players, "mpv.instance7"), 1u);
    EXPECT_EQ(ChooseFollowed(players, "mpv.instance8"), std::nullopt);
    EXPECT_EQ(ChooseFollowed(players, "mp"), std::nullopt);
}

TEST(PlayerChoice, NamesOfOneConnectionAreOnePlayerTakenByItsPlainName)
{
    // The instance name appeared first, as VLC's may.
    std::vector<Candidate> players = {
        {"vlc", "vlc.instance6367", true, 40, 1, ":1.7"},
        {"vlc", "vlc", true, 40, 2, ":1.7"},
        {"mpv", "mpv", false, 0, 3, ":1.9"},
    };
    EXPECT_FALSE(StandsForItsOwner(players, 0));
    EXPECT_TRUE(StandsForItsOwner(players, 1));
    EXPECT_TRUE(StandsForItsOwner(players, 2));
    EXPECT_EQ(ChooseFollowed(players, ""), 1u);
    EXPECT_EQ(ChooseFollowed(players, "vlc"), 1u);
    EXPECT_EQ(ChooseFollowed(players, "vlc.instance6367"), 1u) << "an instance name finds its player";
    players[1].last_playing = 30;  // the names' own figures never split them
    EXPECT_EQ(ChooseFollowed(players, ""), 1u);
    // Owners not yet known count apart.
    players[0].owner.clear();
    EXPECT_TRUE(StandsForItsOwner(players, 0));
    EXPECT_EQ(ChooseFollowed(players, ""), 0u);
}

}  // namespace
}  // namespace mpris_bridge
