#include "metadata_reader.h"

#include <gtest/gtest.h>

#include "glib_ptr.h"

namespace mpris_helper {
namespace {

gvariant_ptr Parse(const char* text)
{
    GError* raw = nullptr;
    gvariant_ptr value(g_variant_parse(nullptr, text, nullptr, nullptr, &raw));
    gerror_ptr error(raw);
    EXPECT_TRUE(value) << text << ": " << (error ? error->message : "");
    return value;
}

TEST(MetadataReader, TakesWhatTheTitleAndTheQueriesNeed)
{
    const gvariant_ptr metadata = Parse(
        "{'xesam:artist': <['Ann', 'Bo']>, 'xesam:title': <'Song'>, 'xesam:url': <'file:///a/b.ogg'>,"
        " 'xesam:trackNumber': <7>, 'mpris:trackid': <objectpath '/t/3'>, 'mpris:length': <int64 214600000>,"
        " 'xesam:audioSampleRate': <44100>, 'xesam:audioBitrate': <192000>}");
    const TrackInfo info = ReadTrackInfo(metadata.get());
    EXPECT_EQ(info.metadata.artists, (std::vector<std::string>{"Ann", "Bo"}));
    EXPECT_EQ(info.metadata.title, "Song");
    EXPECT_EQ(info.metadata.url, "file:///a/b.ogg");
    EXPECT_EQ(info.metadata.track_number, 7);
    EXPECT_EQ(info.track_id, "/t/3");
    EXPECT_EQ(info.length_s, 215);
    EXPECT_EQ(info.freq_hz, 44100);
    EXPECT_EQ(info.kbps, 192);
}

TEST(MetadataReader, CopesWithWhatPlayersActuallySend)
{
    // A single artist string, a doubly wrapped title, an unsigned length, a
    // bit rate in kbit/s already.
    gvariant_ptr metadata = Parse(
        "{'xesam:artist': <'Solo'>, 'xesam:title': <<'Wrapped'>>, 'mpris:length': <uint64 1499999>,"
        " 'xesam:bitrate': <320>}");
    TrackInfo info = ReadTrackInfo(metadata.get());
    EXPECT_EQ(info.metadata.artists, (std::vector<std::string>{"Solo"}));
    EXPECT_EQ(info.metadata.title, "Wrapped");
    EXPECT_EQ(info.length_s, 1);
    EXPECT_EQ(info.kbps, 320);
    EXPECT_EQ(info.freq_hz, 0);

    // Wrong types, negative and huge figures, and no dictionary at all give empty fields.
    metadata = Parse(
        "{'xesam:artist': <42>, 'xesam:title': <['not', 'a', 'string']>, 'mpris:length': <int64 -5>,"
        " 'xesam:trackNumber': <'seven'>, 'xesam:audioSampleRate': <int64 99999999999>}");
    info = ReadTrackInfo(metadata.get());
    EXPECT_TRUE(info.metadata.artists.empty());
    EXPECT_TRUE(info.metadata.title.empty());
    EXPECT_EQ(info.length_s, 0);
    EXPECT_FALSE(info.metadata.track_number);
    EXPECT_EQ(info.freq_hz, INT32_MAX);
    EXPECT_TRUE(ReadTrackInfo(Parse("['a list']").get()).metadata.title.empty());
    EXPECT_TRUE(ReadTrackInfo(nullptr).metadata.title.empty());
}

}  // namespace
}  // namespace mpris_helper
