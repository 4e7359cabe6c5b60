// Holds the window-title composition to what Plavox will make of it.
//
// The input is fields cut at 0xFF bytes (a byte UTF-8 never uses, so any
// other broken sequence can still appear):
//   title 0xFF url 0xFF numbers 0xFF artist 0xFF artist ...
// where numbers is "<track number>,<list position>" in decimal, either
// part left empty (or a position negative) for none. Each composition must
// fit Plavox's 254 characters in Windows-1252, hold no control character,
// no ".mp3" in any case and no " - Plavox" but its own suffix, and Plavox's
// title parser must read back exactly the number, artist and title it says
// it shows.
//
// Strings are composed (NFC) first, as the helper does with what players
// send. The same text written with separate accents (NFD) must give the
// same window title, and text whose composed form the code page holds must
// come through without a '?' it did not have.
#include "text_nfc.h"
#include "title_compose.h"
#include "title_parser.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using mpris_bridge::ComposedTitle;
using mpris_bridge::TrackMetadata;

[[noreturn]] void Fail(const char* what, const ComposedTitle& composed)
{
    std::fprintf(stderr, "compose invariant: %s\n  window title \"%s\"\n  artist \"%s\"\n  title \"%s\"\n", what,
                 composed.window_title.c_str(), composed.artist.c_str(), composed.title.c_str());
    std::abort();
}

std::vector<std::string_view> Fields(std::string_view input)
{
    std::vector<std::string_view> fields;
    for (size_t cut = input.find('\xFF'); cut != std::string_view::npos; cut = input.find('\xFF')) {
        fields.push_back(input.substr(0, cut));
        input.remove_prefix(cut + 1);
    }
    fields.push_back(input);
    return fields;
}

template <typename Int>
std::optional<Int> Number(std::string_view text)
{
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{}) return std::nullopt;
    return value;
}

TrackMetadata TrackFrom(std::string_view input)
{
    const std::vector<std::string_view> fields = Fields(input);
    TrackMetadata track;
    track.title = fields[0];
    if (fields.size() > 1) track.url = fields[1];
    if (fields.size() > 2) {
        const std::string_view numbers = fields[2];
        const size_t comma = numbers.find(',');
        track.track_number = Number<int64_t>(numbers.substr(0, comma));
        // A place in a track list the helper holds in memory, so within int64_t.
        if (comma != std::string_view::npos) {
            const std::optional<int64_t> position = Number<int64_t>(numbers.substr(comma + 1));
            if (position && *position >= 0) track.list_position = static_cast<size_t>(*position);
        }
    }
    for (size_t i = 3; i < fields.size(); ++i) track.artists.emplace_back(fields[i]);
    return track;
}

bool InWindows1252(char32_t c)
{
    constexpr std::u32string_view kUpperHalfExtras =
        U"\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u017D\u2018\u2019\u201C"
        U"\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u017E\u0178";
    return c < 0x80 || (c >= 0xA0 && c <= 0xFF) || kUpperHalfExtras.find(c) != std::u32string_view::npos;
}

// On Linux a wchar_t holds a whole code point, as a UTF-16 unit does for
// every character of Windows-1252.
std::wstring Wide(std::string_view utf8)
{
    const std::u32string points = mpris_bridge::DecodeUtf8(utf8);
    return std::wstring(points.begin(), points.end());
}

char32_t FoldAscii(char32_t c) { return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c; }

bool HasFileExtension(std::u32string_view text)
{
    constexpr std::u32string_view kExtension = U".mp3";
    for (size_t i = 0; i + kExtension.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < kExtension.size() && FoldAscii(text[i + k]) == kExtension[k]) ++k;
        if (k == kExtension.size()) return true;
    }
    return false;
}

void CheckCharacters(const ComposedTitle& composed)
{
    if (mpris_bridge::EncodeUtf8(mpris_bridge::DecodeUtf8(composed.window_title)) != composed.window_title) {
        Fail("not valid UTF-8", composed);
    }
    const std::u32string points = mpris_bridge::DecodeUtf8(composed.window_title);
    if (points.size() > mpris_bridge::kTitleLimit) Fail("longer than Plavox reads", composed);
    for (const char32_t c : points) {
        if (!InWindows1252(c)) Fail("a character outside Windows-1252", composed);
        if (c < 0x20 || c == 0x7F) Fail("a control character", composed);
    }
    if (HasFileExtension(points)) Fail("a file extension", composed);
    // Plavox looks for its suffix only after cutting off the number and its
    // ". ", so an artist opening with "- Plavox" is harmless; anywhere later
    // it would end the title early.
    constexpr std::u32string_view kSuffix = U" - Plavox";
    const std::u32string_view searched = std::u32string_view(points).substr(points.find(U". ") + 2);
    if (!searched.ends_with(kSuffix) || searched.find(kSuffix) != searched.size() - kSuffix.size()) {
        Fail("the player's suffix other than at the end", composed);
    }
}

void CheckReadBack(const ComposedTitle& composed)
{
    const std::wstring shown = Wide(composed.window_title);
    if (!plavox::TitleWantsParse(shown, L"")) Fail("Plavox would not parse it", composed);
    const plavox::TitleParts parts = plavox::SplitTrackTitle(shown);
    if (parts.isFileName) Fail("Plavox takes it for a file name", composed);
    if (!parts.hasTrackNumber || parts.trackNumber != std::to_wstring(composed.number)) {
        Fail("Plavox reads another track number", composed);
    }
    if (parts.artist != Wide(composed.artist)) Fail("Plavox reads another artist", composed);
    if (parts.title != Wide(composed.title)) Fail("Plavox reads another title", composed);
}

void CheckNumber(const TrackMetadata& track, const ComposedTitle& composed)
{
    if (composed.number <= 0) Fail("a track number below one", composed);
    if (track.track_number && *track.track_number > 0 && composed.number != *track.track_number) {
        Fail("the track number is not the one given", composed);
    }
}

// Plain text that needs no mending must come through as it stands.
bool IsPlain(std::string_view text)
{
    if (text.empty() || text.front() == ' ' || text.back() == ' ' || text.starts_with("Plavox")) return false;
    for (const char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter && c != ' ' && c != ',') return false;
    }
    return true;
}

void CheckPlainTextKept(const TrackMetadata& track, const ComposedTitle& composed)
{
    if (track.artists.size() != 1 || !IsPlain(track.artists[0]) || !IsPlain(track.title)) return;
    if (track.artists[0].size() + track.title.size() + 40 > mpris_bridge::kTitleLimit) return;
    if (composed.artist != track.artists[0]) Fail("a plain artist was changed", composed);
    if (composed.title != track.title) Fail("a plain title was changed", composed);
}

// As the helper reads a player's metadata.
TrackMetadata Composed(TrackMetadata track)
{
    for (std::string& artist : track.artists) artist = mpris_helper::ComposedText(artist);
    track.title = mpris_helper::ComposedText(track.title);
    track.url = mpris_helper::ComposedText(track.url);
    if (mpris_bridge::ToAnsiRepertoire(track.title).empty()) {
        track.title = mpris_helper::ComposedText(mpris_bridge::FileNameWithoutExtension(track.url));
    }
    return track;
}

std::string Decomposed(const std::string& text)
{
    const std::unique_ptr<gchar, decltype(&g_free)> nfd(
        g_utf8_normalize(text.c_str(), static_cast<gssize>(text.size()), G_NORMALIZE_NFD), g_free);
    return nfd ? nfd.get() : text;
}

TrackMetadata DecomposedTrack(TrackMetadata track)
{
    for (std::string& artist : track.artists) artist = Decomposed(artist);
    track.title = Decomposed(track.title);
    return track;
}

bool HoldsOnlyCodePageText(const TrackMetadata& track)
{
    auto clean = [](const std::string& text) {
        for (const char32_t c : mpris_bridge::DecodeUtf8(text)) {
            if (!InWindows1252(c) || c < 0x20 || c == 0x7F || c == U'?') return false;
        }
        return true;
    };
    return std::all_of(track.artists.begin(), track.artists.end(), clean) && clean(track.title);
}

void CheckDecomposedAlike(const TrackMetadata& track, const ComposedTitle& composed)
{
    const ComposedTitle again = mpris_bridge::ComposeWindowTitle(Composed(DecomposedTrack(track)));
    if (again.window_title != composed.window_title) Fail("its decomposed form composes otherwise", again);
    // A title with nothing to show leaves the URL's file name, which may hold anything.
    const bool titled = !mpris_bridge::ToAnsiRepertoire(track.title).empty();
    if (titled && HoldsOnlyCodePageText(track) && composed.window_title.find('?') != std::string::npos) {
        Fail("a '?' for text the code page holds", composed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TrackMetadata track = Composed(TrackFrom(std::string_view(reinterpret_cast<const char*>(data), size)));
    const ComposedTitle composed = mpris_bridge::ComposeWindowTitle(track);
    CheckCharacters(composed);
    CheckReadBack(composed);
    CheckNumber(track, composed);
    CheckPlainTextKept(track, composed);
    CheckDecomposedAlike(track, composed);
    return 0;
}
