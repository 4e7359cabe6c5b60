// The native announcement against the Windows path, for generated metadata:
// the Windows system composes the bridge window's title, Plavox's title
// parser reads artist and title back out of it and Nightjar.exe converts
// them to the ANSI code page (Windows-1252); the native program is handed
// the composed artist and title and converts them itself. The bytes on the
// wire must be the same, and no character the composition lets through may
// turn into the code page's '?' on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "main_loop.h"
#include "player_side.h"
#include "title_compose.h"
#include "title_parser.h"
#include "windows_1252.h"

namespace nightjar::native {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class Text>
void AppendString(Bytes& bytes, const Text& text)
{
    for (const auto ch : text) bytes.push_back(static_cast<std::uint8_t>(Windows1252CodeOf(static_cast<char16_t>(ch))));
    bytes.push_back(0);
}

// What Nightjar.exe sends for the title Plavox reads from the bridge's window.
Bytes WindowsAnnouncement(const mpris_bridge::ComposedTitle& composed)
{
    const std::u32string points = mpris_bridge::DecodeUtf8(composed.window_title);
    const plavox::TitleParts parts = plavox::SplitTrackTitle(std::wstring(points.begin(), points.end()));
    Bytes bytes;
    AppendString(bytes, parts.artist);
    AppendString(bytes, parts.title);
    bytes.push_back(app::kEndOfAnnouncement);
    return bytes;
}

// What the native loop sends for the track its player side reports.
Bytes NativeAnnouncement(const Track& track)
{
    Bytes bytes;
    AppendString(bytes, Utf16OfUtf8(track.artist));
    AppendString(bytes, Utf16OfUtf8(track.title));
    bytes.push_back(app::kEndOfAnnouncement);
    return bytes;
}

TEST(Announcement, IsTheBytesTheWindowsSystemSendsForAnyMetadata)
{
    const std::vector<std::string> pieces = {
        "a", "Zo", "7", " ", " - ", "-", ".", ". ", ".mp3", "Plavox", " - Plavox", "?", "\t", "\x01", "\x7F",
        "\xC2\x85", "\xC3\xA9", "\xC3\xBF", "\xC5\x82", "\xC5\x93", "\xE2\x82\xAC", "\xE2\x80\x94", "\xE2\x80\x9C",
        "\xE2\x84\xA2", "\xE6\x97\xA5", "\xC2\xA0", "\xF0\x9F\x8E\xB5", "\xFF", "\xD0\x96", "\xCB\x86", ", ",
    };
    std::mt19937 random(16);
    const auto text = [&](std::size_t most) {
        std::string s;
        for (std::size_t n = random() % (most + 1); n > 0; --n) s += pieces[random() % pieces.size()];
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        mpris_bridge::TrackMetadata metadata;
        for (std::size_t n = random() % 3; n > 0; --n) metadata.artists.push_back(text(10));
        metadata.title = text(round % 40 == 0 ? 200 : 12);
        if (random() % 2) metadata.track_number = static_cast<std::int64_t>(random() % 100);
        const auto composed = mpris_bridge::ComposeWindowTitle(metadata);
        const Bytes native = NativeAnnouncement({composed.artist, composed.title});
        ASSERT_EQ(native, WindowsAnnouncement(composed)) << "round " << round;
        const auto questions = [](const std::string& s) { return std::count(s.begin(), s.end(), '?'); };
        ASSERT_EQ(std::count(native.begin(), native.end(), '?'), questions(composed.artist) + questions(composed.title))
            << "a character became '?' in round " << round;
    }
}

}  // namespace
}  // namespace nightjar::native
