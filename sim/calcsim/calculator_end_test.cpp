#include "calculator_end.h"

#include <gtest/gtest.h>

#include <vector>

namespace nightjar::calc {
namespace {

std::optional<Announcement> Feed(AnnouncementReader& reader, const std::vector<int>& bytes)
{
    std::optional<Announcement> last;
    for (int b : bytes) {
        auto done = reader.Take(static_cast<std::uint8_t>(b));
        if (done) last = done;
    }
    return last;
}

TEST(AnnouncementReader, AssemblesArtistThenTitleUpToTheEndByte)
{
    AnnouncementReader reader;
    auto done = Feed(reader, {'A', 'b', 0, 'S', 'o', 'n', 'g', 0, 2});
    ASSERT_TRUE(done);
    EXPECT_EQ(done->artist, "Ab");
    EXPECT_EQ(done->title, "Song");
    EXPECT_FALSE(reader.InProgress());

    // An emptied track is two bare terminators and the end byte.
    done = Feed(reader, {0, 0, 2});
    ASSERT_TRUE(done);
    EXPECT_EQ(done->artist, "");
    EXPECT_EQ(done->title, "");
}

TEST(AnnouncementReader, EndByteInsideAStringIsText)
{
    // Byte 2 before the second terminator belongs to the string.
    AnnouncementReader reader;
    auto done = Feed(reader, {2, 0, 'x', 2, 0, 2});
    ASSERT_TRUE(done);
    EXPECT_EQ(done->artist, "\x02");
    EXPECT_EQ(done->title, "x\x02");
}

TEST(AnnouncementReader, MissingEndByteRestartsWithTheNextByte)
{
    AnnouncementReader reader;
    EXPECT_FALSE(Feed(reader, {'a', 0, 'b', 0, 'N', 0, 'T', 0}));
    EXPECT_TRUE(reader.InProgress());
    auto done = reader.Take(2);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->artist, "N");
    EXPECT_EQ(done->title, "T");
}

TEST(ParseByte, AcceptsDecimalAndHexWithinOneByte)
{
    EXPECT_EQ(ParseByte("54"), 54);
    EXPECT_EQ(ParseByte(" 0 "), 0);
    EXPECT_EQ(ParseByte("0xff"), 255);
    EXPECT_EQ(ParseByte("0X1f"), 31);
    EXPECT_FALSE(ParseByte("256"));
    EXPECT_FALSE(ParseByte(""));
    EXPECT_FALSE(ParseByte("-1"));
    EXPECT_FALSE(ParseByte("12a"));
    EXPECT_FALSE(ParseByte("0x"));
}

TEST(Keypad, EveryKeySendsACommandTheControllerKnows)
{
    for (const auto& key : kKeys) EXPECT_NE(CommandName(key.byte), "") << key.label;
    EXPECT_EQ(CommandName(0), "");
    EXPECT_EQ(CommandName(55), "");
}

TEST(EventLines, NameTheCommandAndTheTrack)
{
    EXPECT_EQ(SentLine(52), "sent 52 (play)");
    EXPECT_EQ(SentLine(200), "sent 200");
    EXPECT_EQ(NowPlayingLine("Ab", "Song"), "now playing: Ab - Song");
    EXPECT_EQ(NowPlayingLine("", "Song"), "now playing: Song");
    EXPECT_EQ(NowPlayingLine("", ""), "now playing: nothing");
}

TEST(ChooseYield, PumpsOncePerMillisecondAndSleepsOnlyInALongStartWait)
{
    EXPECT_EQ(ChooseYield(10, 9, 0), YieldAction::Pump);
    EXPECT_EQ(ChooseYield(10, 9, kPatientPolls + 1), YieldAction::Pump);
    EXPECT_EQ(ChooseYield(10, 10, 1), YieldAction::Offer);
    EXPECT_EQ(ChooseYield(10, 10, kPatientPolls), YieldAction::Offer);
    EXPECT_EQ(ChooseYield(10, 10, kPatientPolls + 1), YieldAction::Sleep);
}

TEST(KeyQueue, KeepsPressesInOrderAndDropsThemWhenFull)
{
    KeyQueue queue;
    EXPECT_FALSE(queue.Pop());
    // Wrap around the ring more than once.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < KeyQueue::kCapacity; ++i) EXPECT_TRUE(queue.Push(static_cast<std::uint8_t>(i)));
        EXPECT_FALSE(queue.Push(99));
        for (std::size_t i = 0; i < KeyQueue::kCapacity / 2; ++i) EXPECT_EQ(queue.Pop(), i);
        for (std::size_t i = KeyQueue::kCapacity / 2; i < KeyQueue::kCapacity; ++i) EXPECT_EQ(queue.Pop(), i);
        EXPECT_TRUE(queue.Empty());
    }
}

}  // namespace
}  // namespace nightjar::calc
