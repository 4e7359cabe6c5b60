// Composed titles read back through Plavox's own title parser.
#include "title_compose.h"

#include <gtest/gtest.h>

#include <random>

#include "title_parser.h"

namespace mpris_bridge {
namespace {

// On Linux a wchar_t holds a whole code point, as a UTF-16 unit does for
// every character of Windows-1252.
std::wstring Wide(std::string_view utf8)
{
    const std::u32string points = DecodeUtf8(utf8);
    return std::wstring(points.begin(), points.end());
}

bool InAnsi(char32_t c)
{
    constexpr std::u32string_view extras =
        U"\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u017D\u2018\u2019\u201C"
        U"\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u017E\u0178";
    return c < 0x80 || (c >= 0xA0 && c <= 0xFF) || extras.find(c) != std::u32string_view::npos;
}

// Plavox's reading of the title, as Plavox does it: at most 254 characters.
void ExpectReadBack(const ComposedTitle& composed, const std::string& context)
{
    const std::u32string points = DecodeUtf8(composed.window_title);
    ASSERT_LE(points.size(), kTitleLimit) << context;
    for (const char32_t c : points) {
        ASSERT_TRUE(InAnsi(c)) << context << ": U+" << std::hex << uint32_t(c);
        ASSERT_GE(c, 0x20u) << context;
    }
    const std::wstring shown = Wide(composed.window_title);
    ASSERT_TRUE(plavox::TitleWantsParse(shown, L"")) << context;
    const plavox::TitleParts parts = plavox::SplitTrackTitle(shown);
    ASSERT_FALSE(parts.isFileName) << context;
    ASSERT_TRUE(parts.hasTrackNumber) << context;
    EXPECT_EQ(parts.trackNumber, std::to_wstring(composed.number)) << context;
    EXPECT_EQ(parts.artist, Wide(composed.artist)) << context;
    EXPECT_EQ(parts.title, Wide(composed.title)) << context;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

TEST(TitleCompose, AnyArtistAndTitleReadBackAsComposed)
{
    // Pieces that are harmless alone and trouble together.
    const std::vector<std::string> pieces = {
        "a", "Zo", "7", " ", "  ", "-", " - ", " -", "- ", ".", ". ", "mp3", ".mp3", ".Mp3", ".MP", "3",
        "Plavox", " - Plavox", "Plavox - ", "\t", "\n", "\x01", "\x7F", "\xC2\x85", "\xC3\xA9", "\xC5\x82",
        "\xE2\x82\xAC", "\xE6\x97\xA5\xE6\x9C\xAC", "\xE2\x80\x94", "\xE2\x80\x93", "\xC2\xA0", "\xF0\x9F\x8E\xB5",
        "\xFF", "\xE2\x80\x90", "\xD0\x96", ", ", "&", "'", "\"",
    };
    std::mt19937 random(20261208);
    auto text = [&](size_t max_pieces) {
        std::string s;
        const size_t n = random() % (max_pieces + 1);
        for (size_t i = 0; i < n; ++i) s += pieces[random() % pieces.size()];
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        TrackMetadata track;
        const bool long_one = round % 50 == 0;
        for (size_t n = random() % 4; n > 0; --n) track.artists.push_back(text(long_one ? 200 : 12));
        track.title = text(long_one ? 300 : 12);
        if (random() % 4 == 0) track.url = "file:///music/" + text(4) + ".ogg";
        if (random() % 2) track.track_number = static_cast<int64_t>(random() % 2000) - 10;
        if (random() % 3 == 0) track.list_position = random() % 30;
        const ComposedTitle composed = ComposeWindowTitle(track);
        ExpectReadBack(composed, "title \"" + Escaped(track.title) + "\", round " + std::to_string(round));
        if (HasFailure()) return;
    }
}

TEST(TitleCompose, CleanTextReadsBackUnchanged)
{
    const std::string letters = "abcXYZ019 ,'&()!?\xC3\xA9\xC3\xBC\xE2\x82\xAC-.";
    std::mt19937 random(7);
    for (int round = 0; round < 5000; ++round) {
        auto word = [&] {
            std::string s;
            for (size_t n = 1 + random() % 30; n > 0; --n) {
                const std::u32string all = DecodeUtf8(letters);
                s += EncodeUtf8(std::u32string(1, all[random() % all.size()]));
            }
            return s;
        };
        TrackMetadata track{{"A" + word() + "z"}, "T" + word() + "z", "", 3, std::nullopt};
        // What needs no mending: no " -" in the artist, no ".mp3", no " - Plavox".
        if (track.artists[0].find(" -") != std::string::npos) continue;
        const ComposedTitle composed = ComposeWindowTitle(track);
        EXPECT_EQ(composed.artist, track.artists[0]);
        EXPECT_EQ(composed.title, track.title);
        EXPECT_EQ(composed.window_title, "3. " + track.artists[0] + " - " + track.title + " - Plavox");
        ExpectReadBack(composed, track.title);
    }
}

TEST(TitleCompose, ArtistsJoinAndMissingPiecesFallBack)
{
    ComposedTitle c = ComposeWindowTitle({{"Ann", "Bo Diddley"}, "Song", "", 4, 9});
    EXPECT_EQ(c.window_title, "4. Ann, Bo Diddley - Song - Plavox");
    c = ComposeWindowTitle({{}, "", "file:///home/u/Music/My%20Song.final.flac", std::nullopt, 9});
    EXPECT_EQ(c.window_title, "9.  - My Song.final - Plavox");
    c = ComposeWindowTitle({{"A"}, "", "https://radio.example/live?x=1", 0, std::nullopt});
    EXPECT_EQ(c.window_title, "1. A - live - Plavox");
    c = ComposeWindowTitle({{"A"}, "", "", std::nullopt, std::nullopt});
    EXPECT_EQ(c.window_title, "1. A -  - Plavox");
}

TEST(TitleCompose, WhatWouldBreakTheParseIsMended)
{
    EXPECT_EQ(ComposeWindowTitle({{"AC - DC"}, "Song.MP3", "", 2, {}}).window_title,
              "2. AC \u2013 DC - Song MP3 - Plavox");
    EXPECT_EQ(ComposeWindowTitle({{"Band -"}, "Plavox Nights - Plavox rmx", "", 2, {}}).window_title,
              "2. Band \u2013 - \u00A0Plavox Nights \u2013 Plavox rmx - Plavox");
    EXPECT_EQ(ComposeWindowTitle({{"  Tab\tBed\n"}, "\x1B[31mred", "", 2, {}}).window_title,
              "2. Tab Bed - [31mred - Plavox");
    EXPECT_EQ(ComposeWindowTitle({{"\xC5\x81\xC3\xB3\x64\xC5\xBA"}, "\xD0\x96\xE2\x88\x92", "", 2, {}}).window_title,
              "2. \x4C\xC3\xB3\x64z - ?- - Plavox");

    const ComposedTitle longest = ComposeWindowTitle({{std::string(300, 'a')}, std::string(300, 'b'), "", 12, {}});
    EXPECT_EQ(DecodeUtf8(longest.window_title).size(), kTitleLimit);
    EXPECT_EQ(longest.artist.size(), longest.title.size());
}

}  // namespace
}  // namespace mpris_bridge
