#include "title_parser.h"

#include <gtest/gtest.h>

#include <climits>

namespace plavox {
namespace {

TEST(SplitTrackTitle, TakesTrackNumberArtistAndTitle)
{
    const TitleParts parts = SplitTrackTitle(L"12. Some Artist - Some Song - Plavox");
    EXPECT_TRUE(parts.hasTrackNumber);
    EXPECT_EQ(parts.trackNumber, L"12");
    EXPECT_FALSE(parts.isFileName);
    EXPECT_EQ(parts.artist, L"Some Artist");
    EXPECT_EQ(parts.title, L"Some Song");
}

TEST(SplitTrackTitle, WithoutTrackNumberLeavesItUnset)
{
    const TitleParts parts = SplitTrackTitle(L"Some Artist - Some Song - Plavox");
    EXPECT_FALSE(parts.hasTrackNumber);
    EXPECT_EQ(parts.artist, L"Some Artist");
    EXPECT_EQ(parts.title, L"Some Song");
}

TEST(SplitTrackTitle, KeepsFurtherSeparatorsInTheTitle)
{
    EXPECT_EQ(SplitTrackTitle(L"1. Some Artist - Some Song - Live - Plavox").title, L"Some Song - Live");
    // Only the first " - Plavox" ends the text.
    EXPECT_EQ(SplitTrackTitle(L"A - B - Plavox - Plavox").title, L"B");
}

TEST(SplitTrackTitle, NameWithoutSeparatorIsAllArtist)
{
    const TitleParts parts = SplitTrackTitle(L"4. Some Name - Plavox");
    EXPECT_EQ(parts.trackNumber, L"4");
    EXPECT_EQ(parts.artist, L"Some Name");
    EXPECT_EQ(parts.title, L"");
}

TEST(SplitTrackTitle, TrackNumberIsNotTrimmed)
{
    EXPECT_EQ(SplitTrackTitle(L" 9 . A - B").trackNumber, L" 9 ");
    const TitleParts leading = SplitTrackTitle(L". A - B");
    EXPECT_TRUE(leading.hasTrackNumber);
    EXPECT_EQ(leading.trackNumber, L"");
    EXPECT_EQ(leading.artist, L"A");
}

TEST(SplitTrackTitle, Mp3FileNameInAnyCaseStopsAfterTrackNumber)
{
    for (const wchar_t* title : {L"7. track07.MP3 - Plavox", L"7. track07.mp3 - Plavox", L"7. x - a.Mp3 b"}) {
        const TitleParts parts = SplitTrackTitle(title);
        EXPECT_TRUE(parts.isFileName) << title;
        EXPECT_EQ(parts.trackNumber, L"7") << title;
        EXPECT_EQ(parts.artist, L"") << title;
    }
    // Looked for only after the suffix is cut.
    EXPECT_FALSE(SplitTrackTitle(L"A - B - Plavox .mp3").isFileName);
    EXPECT_FALSE(SplitTrackTitle(L"A - B.mp 3").isFileName);
}

TEST(SplitTrackTitle, TrimsBlanksOnly)
{
    const TitleParts parts = SplitTrackTitle(L"  \tArtist  -   Song\t  ");
    EXPECT_EQ(parts.artist, L"\tArtist");
    EXPECT_EQ(parts.title, L"Song\t");
}

TEST(SplitTrackTitle, DegenerateTextsGiveEmptyFields)
{
    for (const wchar_t* title : {L"", L" - ", L". ", L" - Plavox", L"1.  - Plavox", L"   "}) {
        const TitleParts parts = SplitTrackTitle(title);
        EXPECT_EQ(parts.artist, L"") << '"' << title << '"';
        EXPECT_EQ(parts.title, L"") << '"' << title << '"';
    }
    EXPECT_EQ(SplitTrackTitle(L"-").artist, L"-");
    EXPECT_EQ(SplitTrackTitle(L"1. - Plavox").artist, L"- Plavox");
    EXPECT_EQ(SplitTrackTitle(L"a-b").artist, L"a-b");
}

TEST(SplitTrackTitle, LongAndNonAsciiTexts)
{
    const std::wstring artist(200, L'\u00e9');
    const std::wstring title = L"3. " + artist + L" - \u65e5\u672c\u8a9e \U0001F3B5 - Plavox";
    const TitleParts parts = SplitTrackTitle(title);
    EXPECT_EQ(parts.artist, artist);
    EXPECT_EQ(parts.title, L"\u65e5\u672c\u8a9e \U0001F3B5");

    // A title cut at 254 characters in the middle of the suffix.
    std::wstring cut = std::wstring(240, L'x') + L" - Song - Plav";
    cut.resize(254);
    EXPECT_EQ(SplitTrackTitle(cut).title, L"Song - Plav");
}

TEST(TitleWantsParse, NeedsANewTitleWithADash)
{
    EXPECT_TRUE(TitleWantsParse(L"A - B", L""));
    EXPECT_TRUE(TitleWantsParse(L"A-B", L"a-b"));
    EXPECT_FALSE(TitleWantsParse(L"A - B", L"A - B"));
    EXPECT_FALSE(TitleWantsParse(L"Plavox v1.x", L""));
    EXPECT_FALSE(TitleWantsParse(L"", L"A - B"));
}

TEST(DecimalText, PlainDigits)
{
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(44100), L"44100");
    EXPECT_EQ(DecimalText(-1), L"-1");
    EXPECT_EQ(DecimalText(INT_MIN), L"-2147483648");
    EXPECT_EQ(DecimalText(INT_MAX), L"2147483647");
}

TEST(SecondsFromMilliseconds, RoundsHalfToEven)
{
    EXPECT_EQ(SecondsFromMilliseconds(0), 0);
    EXPECT_EQ(SecondsFromMilliseconds(499), 0);
    EXPECT_EQ(SecondsFromMilliseconds(500), 0);
    EXPECT_EQ(SecondsFromMilliseconds(501), 1);
    EXPECT_EQ(SecondsFromMilliseconds(1500), 2);
    EXPECT_EQ(SecondsFromMilliseconds(2500), 2);
    EXPECT_EQ(SecondsFromMilliseconds(3499), 3);
    EXPECT_EQ(SecondsFromMilliseconds(3500), 4);
    EXPECT_EQ(SecondsFromMilliseconds(-1500), -2);
    EXPECT_EQ(SecondsFromMilliseconds(-2500), -2);
    EXPECT_EQ(SecondsFromMilliseconds(INT_MAX), 2147484);
    EXPECT_EQ(SecondsFromMilliseconds(INT_MIN), -2147484);
}

}  // namespace
}  // namespace plavox
