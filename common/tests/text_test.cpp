// Text conversions and Unix time: round trips, what does not fit, bad input.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "nj/text.h"
#include "nj/unix_time.h"

namespace nj::text {
namespace {

TEST(Text, Utf8AndUtf16RoundTripEveryPlane)
{
    const std::wstring wide = L"Bj\u00f6rk \u65e5\u672c \U0001F3B5";
    const std::string utf8 = ToUtf8(wide);
    EXPECT_EQ(utf8, "Bj\xC3\xB6rk \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5");
    EXPECT_EQ(FromUtf8(utf8), wide);
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(FromUtf8(""), L"");
    EXPECT_EQ(ToUtf8(View(nullptr)), "");
    // Embedded NULs are text like any other.
    EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Text, BrokenInputBecomesReplacementCharactersAndLosesNothingAround)
{
    EXPECT_EQ(FromUtf8("a\xFFz"), L"a\uFFFDz");
    EXPECT_EQ(FromUtf8("a\xE6\x97"), L"a\uFFFD");  // cut inside a character
    const wchar_t lone[] = {L'x', 0xD800, L'y'};
    EXPECT_EQ(ToUtf8({lone, 3}), "x\xEF\xBF\xBDy");
}

TEST(Text, CodePagesTakeTheDefaultCharacterNeverALookAlike)
{
    EXPECT_EQ(ToCodePage(1252, L"caf\u00e9 \u20ac"), "caf\xE9 \x80");
    EXPECT_EQ(FromCodePage(1252, "caf\xE9 \x80"), L"caf\u00e9 \u20ac");
    // Best fit would give "l" and "A": a file name must not turn into another.
    EXPECT_EQ(ToCodePage(1252, L"\u0142\u0100\u65e5"), "???");
    // Double-byte code pages keep both bytes.
    EXPECT_EQ(ToCodePage(932, L"\u4e2d"), "\x92\x86");
    EXPECT_EQ(FromCodePage(932, "\x92\x86"), L"\u4e2d");
    EXPECT_EQ(ToAnsi(L"plain"), "plain");
    EXPECT_EQ(FromAnsi("plain"), L"plain");
    EXPECT_EQ(ToCodePage(12345, L"x"), "");  // no such code page
}

TEST(UnixTime, FileTimesCountFrom1970InMicroseconds)
{
    static_assert(UnixMicroseconds(std::uint64_t{116444736000000000}) == 0);
    FILETIME later{};
    const std::uint64_t ticks = 116444736000000000ULL + 17000000000ULL * 10000000ULL + 1234560ULL;
    later.dwLowDateTime = static_cast<DWORD>(ticks);
    later.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    EXPECT_EQ(UnixMicroseconds(later), 17000000000LL * 1000000 + 123456);

    // The same clock as the C library's.
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t now = UnixNowMicroseconds() / 1000000;
    EXPECT_GE(now, before);
    EXPECT_LE(now, static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace
}  // namespace nj::text
