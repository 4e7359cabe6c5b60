// The native announcement against the Windows path, for generated metadata.
// Both start where the player's metadata is read (the helper's
// ReadTrackInfo, which composes letters written with separate accents) and
// compose the bridge window's title. Then the Windows system has Plavox's
// title parser read artist and title back out of that title and Nightjar.exe
// convert them to the ANSI code page (Windows-1252, WideCharToMultiByte
// without best fit); the native program is handed the composed artist and
// title and converts them itself. The bytes on the wire must be the same,
// and no character the composition lets through may turn into '?'.
//
// The Windows conversion is taken from glibc's own Windows-1252 table
// (iconv), so the native table is checked against one it did not come from.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <random>
#include <vector>

#include "helper/glib_ptr.h"
#include "helper/metadata_reader.h"
#include "main_loop.h"
#include "player_side.h"
#include "title_compose.h"
#include "title_parser.h"
#include "windows_1252.h"

namespace nightjar::native {
namespace {

using Bytes = std::vector<std::uint8_t>;

// WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS) for one character: its
// byte, or the code page's default character.
class WindowsCodePage {
public:
    WindowsCodePage() : cd_(iconv_open("WINDOWS-1252", "UTF-32LE")) {}
    ~WindowsCodePage()
    {
        if (cd_ != kNone) iconv_close(cd_);
    }
    WindowsCodePage(const WindowsCodePage&) = delete;
    WindowsCodePage& operator=(const WindowsCodePage&) = delete;
    bool Ready() const { return cd_ != kNone; }

    std::uint8_t ByteOf(char32_t ch)
    {
        char in[4] = {static_cast<char>(ch & 0xFF), static_cast<char>((ch >> 8) & 0xFF),
                      static_cast<char>((ch >> 16) & 0xFF), static_cast<char>(ch >> 24)};
        char out[4];
        char* in_at = in;
        char* out_at = out;
        std::size_t in_left = sizeof in, out_left = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1) || out_at != out + 1)
            return '?';
        return static_cast<std::uint8_t>(out[0]);
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_;
};

// What Nightjar.exe sends for the title Plavox reads from the bridge's window.
Bytes WindowsAnnouncement(const mpris_bridge::ComposedTitle& composed, WindowsCodePage& code_page)
{
    const std::u32string points = mpris_bridge::DecodeUtf8(composed.window_title);
    const plavox::TitleParts parts = plavox::SplitTrackTitle(std::wstring(points.begin(), points.end()));
    Bytes bytes;
    for (const std::wstring* text : {&parts.artist, &parts.title}) {
        for (const wchar_t ch : *text) bytes.push_back(code_page.ByteOf(static_cast<char32_t>(ch)));
        bytes.push_back(0);
    }
    bytes.push_back(app::kEndOfAnnouncement);
    return bytes;
}

// What the native loop sends for the track its player side reports.
Bytes NativeAnnouncement(const Track& track)
{
    Bytes bytes;
    for (const std::string* text : {&track.artist, &track.title}) {
        for (const char16_t ch : Utf16OfUtf8(*text)) bytes.push_back(static_cast<std::uint8_t>(Windows1252CodeOf(ch)));
        bytes.push_back(0);
    }
    bytes.push_back(app::kEndOfAnnouncement);
    return bytes;
}

// The metadata dictionary a player would send.
mpris_helper::gvariant_ptr MetadataOf(const std::vector<std::string>& artists, const std::string& title,
                                      std::optional<std::int32_t> number)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE_STRING_ARRAY);
    for (const std::string& artist : artists) g_variant_builder_add(&list, "s", artist.c_str());
    g_variant_builder_add(&builder, "{sv}", "xesam:artist", g_variant_builder_end(&list));
    g_variant_builder_add(&builder, "{sv}", "xesam:title", g_variant_new_string(title.c_str()));
    if (number) g_variant_builder_add(&builder, "{sv}", "xesam:trackNumber", g_variant_new_int32(*number));
    return mpris_helper::gvariant_ptr(g_variant_ref_sink(g_variant_builder_end(&builder)));
}

// Strings a player sends are valid UTF-8 (D-Bus refuses anything else).
const std::vector<std::string> kPieces = {
    "a", "Zo", "7", " ", " - ", "-", ".", ". ", ".mp3", "Plavox", " - Plavox", "?", "\t", "\x01", "\x7F",
    "\xC2\x85", "\xC3\xA9", "\xC3\xBF", "\xC5\x82", "\xC5\x93", "\xE2\x82\xAC", "\xE2\x80\x94", "\xE2\x80\x9C",
    "\xE2\x84\xA2", "\xE6\x97\xA5", "\xC2\xA0", "\xF0\x9F\x8E\xB5", "\xD0\x96", "\xCB\x86", ", ",
    // Letters with separate accents, as some systems tag files; some compose
    // to a letter of the code page, some to one it lacks, one to none.
    "e\u0301", "A\u030A", "c\u0327", "u\u0308", "n\u0303", "s\u030C", "Z\u030C", "Y\u0308", "l\u0301",
    "s\u0326", "q\u0301", "\u0301", " \u0308",
};

TEST(Announcement, IsTheBytesTheWindowsSystemSendsForAnyMetadata)
{
    WindowsCodePage code_page;
    ASSERT_TRUE(code_page.Ready()) << "glibc has no WINDOWS-1252";
    std::mt19937 random(16);
    const auto text = [&](std::size_t most) {
        std::string s;
        for (std::size_t n = random() % (most + 1); n > 0; --n) s += kPieces[random() % kPieces.size()];
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::string> artists;
        for (std::size_t n = random() % 3; n > 0; --n) artists.push_back(text(10));
        const std::string title = text(round % 40 == 0 ? 200 : 12);
        std::optional<std::int32_t> number;
        if (random() % 2) number = static_cast<std::int32_t>(random() % 100);
        const mpris_helper::TrackInfo info = mpris_helper::ReadTrackInfo(MetadataOf(artists, title, number).get());
        const auto composed = mpris_bridge::ComposeWindowTitle(info.metadata);
        const Bytes native = NativeAnnouncement({composed.artist, composed.title});
        ASSERT_EQ(native, WindowsAnnouncement(composed, code_page)) << "round " << round;
        const auto questions = [](const std::string& s) { return std::count(s.begin(), s.end(), '?'); };
        ASSERT_EQ(std::count(native.begin(), native.end(), '?'), questions(composed.artist) + questions(composed.title))
            << "a character became '?' in round " << round;
    }
}

TEST(Announcement, LettersWithSeparateAccentsArriveAsTheCodePagesOwn)
{
    const auto info = mpris_helper::ReadTrackInfo(MetadataOf({"Cafe\u0301 Noe\u0308l"}, "Z\u030Clutý", 1).get());
    const auto composed = mpris_bridge::ComposeWindowTitle(info.metadata);
    EXPECT_EQ(NativeAnnouncement({composed.artist, composed.title}),
              (Bytes{'C', 'a', 'f', 0xE9, ' ', 'N', 'o', 0xEB, 'l', 0, 0x8E, 'l', 'u', 't', 0xFD, 0, 2}));
}

}  // namespace
}  // namespace nightjar::native
