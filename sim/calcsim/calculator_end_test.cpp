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

}  // namespace
}  // namespace nightjar::calc
