#include "metadata_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "glib_ptr.h"
#include "text_nfc.h"
#include "title_parser.h"

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

// Metadata of one track, artist and title given as GVariant text.
gvariant_ptr TrackOf(const std::string& artist, const std::string& title)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    const char* artists[] = {artist.c_str(), nullptr};
    g_variant_builder_add(&builder, "{sv}", "xesam:artist", g_variant_new_strv(artists, 1));
    g_variant_builder_add(&builder, "{sv}", "xesam:title", g_variant_new_string(title.c_str()));
    return gvariant_ptr(g_variant_ref_sink(g_variant_builder_end(&builder)));
}

std::wstring Wide(std::string_view utf8)
{
    const std::u32string points = mpris_bridge::DecodeUtf8(utf8);
    return std::wstring(points.begin(), points.end());
}

TEST(MetadataReader, LettersWithSeparateAccentsReachTheTitleAsOne)
{
    const TrackInfo info = ReadTrackInfo(TrackOf("Cafe\u0301 Noe\u0308l", "A\u030Angstro\u0308m").get());
    EXPECT_EQ(info.metadata.artists, (std::vector<std::string>{"Caf\u00E9 No\u00EBl"}));
    EXPECT_EQ(mpris_bridge::ComposeWindowTitle(info.metadata).window_title,
              "1. Caf\u00E9 No\u00EBl - \u00C5ngstr\u00F6m - Plavox");
    // Without a title the file name stands in, composed once decoded; broken text gets U+FFFD, then '?'.
    const gvariant_ptr untitled = Parse("{'xesam:url': <'file:///m/Cafe%CC%81.ogg'>}");
    EXPECT_EQ(ReadTrackInfo(untitled.get()).metadata.title, "Caf\u00E9");
    EXPECT_EQ(ComposedText("e\xCC\x81\xFFz"), "\u00E9\uFFFDz");
}

// Random artists and titles written with separate accents compose to what
// the same text written with precomposed letters composes to, and Plavox
// reads them back; only a mark that no letter of the code page carries
// becomes '?'.
TEST(MetadataReader, DecomposedTextComposesAsItsPrecomposedForm)
{
    struct Piece {
        const char* decomposed;
        const char* precomposed;
    };
    const Piece pieces[] = {
        {"e\u0301", "\u00E9"}, {"a\u0300", "\u00E0"}, {"o\u0308", "\u00F6"}, {"A\u030A", "\u00C5"},
        {"c\u0327", "\u00E7"}, {"n\u0303", "\u00F1"}, {"u\u0302", "\u00FB"}, {"I\u0308", "\u00CF"},
        {"s\u030C", "\u0161"}, {"Z\u030C", "\u017D"}, {"l\u0301", "l"} /* \u013A: the closest is l */,
        {"q\u0301", "q?"},      {"x", "x"},             {" ", " "},             {"Bo", "Bo"},
    };
    std::mt19937 random(15);
    auto text = [&](std::string& decomposed, std::string& precomposed) {
        decomposed = precomposed = "K";
        for (size_t n = 1 + random() % 12; n > 0; --n) {
            const Piece& piece = pieces[random() % std::size(pieces)];
            decomposed += piece.decomposed;
            precomposed += piece.precomposed;
        }
        decomposed += "k";
        precomposed += "k";
    };
    for (int round = 0; round < 5000; ++round) {
        std::string artist, title, artist_want, title_want;
        text(artist, artist_want);
        text(title, title_want);
        const TrackInfo info = ReadTrackInfo(TrackOf(artist, title).get());
        const mpris_bridge::ComposedTitle composed = mpris_bridge::ComposeWindowTitle(info.metadata);
        const mpris_bridge::ComposedTitle want = mpris_bridge::ComposeWindowTitle({{artist_want}, title_want, "", {}, {}});
        ASSERT_EQ(composed.window_title, want.window_title) << "round " << round;
        const plavox::TitleParts parts = plavox::SplitTrackTitle(Wide(composed.window_title));
        ASSERT_EQ(parts.artist, Wide(want.artist)) << "round " << round;
        ASSERT_EQ(parts.title, Wide(want.title)) << "round " << round;
    }
}

}  // namespace
}  // namespace mpris_helper
