#include "title_compose.h"

#include <algorithm>
#include <array>

namespace mpris_bridge {
namespace {

constexpr std::u32string_view kNumberEnd = U". ";
constexpr std::u32string_view kSeparator = U" - ";
constexpr std::u32string_view kSuffix = U" - Plavox";
constexpr std::u32string_view kPlayerName = U"Plavox";
constexpr char32_t kEnDash = U'\u2013';
constexpr char32_t kNoBreakSpace = U'\u00A0';

// The characters Windows-1252 puts at 0x80-0x9F.
constexpr std::u32string_view kAnsiExtras =
    U"\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u017D\u2018\u2019\u201C\u201D"
    U"\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u017E\u0178";

// Base letters of U+0100-U+017F (Latin Extended-A), in order.
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiJjJjKkkLlLlLlLlLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUu"
    "UuUuUuWwYyYZzZzZzs";

struct Replacement {
    char32_t from;
    std::u32string_view to;
};

constexpr std::array<Replacement, 24> kReplacements{{
    {U'\u2010', U"-"},  {U'\u2011', U"-"},   {U'\u2012', U"-"},  {U'\u2015', U"\u2014"}, {U'\u2212', U"-"},
    {U'\u2032', U"'"},  {U'\u2033', U"\""},  {U'\u201B', U"'"},  {U'\u201F', U"\""},      {U'\u2044', U"/"},
    {U'\u2002', U" "},  {U'\u2003', U" "},   {U'\u2009', U" "},  {U'\u200A', U" "},       {U'\u202F', U" "},
    {U'\u200B', U""},   {U'\u2060', U""},    {U'\uFEFF', U""},   {U'\u0218', U"S"},       {U'\u0219', U"s"},
    {U'\u021A', U"T"},  {U'\u021B', U"t"},   {U'\u2116', U"No"}, {U'\u00AD', U""},
}};

bool InAnsiRepertoire(char32_t c) noexcept
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return true;
    return kAnsiExtras.find(c) != std::u32string_view::npos;
}

bool IsControl(char32_t c) noexcept { return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029; }

void AppendTransliterated(char32_t c, std::u32string& out)
{
    if (IsControl(c)) {
        out += U' ';
    } else if (c == U'\u00AD') {
        // A soft hyphen is invisible where it is not breaking a line.
    } else if (InAnsiRepertoire(c)) {
        out += c;
    } else if (c >= 0x100 && c < 0x100 + kLatinExtendedA.size()) {
        out += static_cast<char32_t>(kLatinExtendedA[c - 0x100]);
    } else {
        const auto* found = std::find_if(kReplacements.begin(), kReplacements.end(),
                                         [c](const Replacement& r) { return r.from == c; });
        if (found != kReplacements.end()) {
            out += found->to;
        } else {
            out += U'?';
        }
    }
}

char32_t FoldAscii(char32_t c) noexcept { return (c >= U'A' && c <= U'Z') ? c - U'A' + U'a' : c; }

void TrimBlanks(std::u32string& text)
{
    const size_t first = text.find_first_not_of(U' ');
    if (first == std::u32string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(U' ') + 1);
    text.erase(0, first);
}

// ".mp3" anywhere makes Plavox take the title for a file name and announce
// nothing; a blank for the dot reads nearly the same and cannot form a new one.
void BreakFileExtensions(std::u32string& text)
{
    constexpr std::u32string_view kExtension = U".mp3";
    for (size_t i = 0; i + kExtension.size() <= text.size(); ++i) {
        bool match = true;
        for (size_t k = 0; k < kExtension.size() && match; ++k) match = FoldAscii(text[i + k]) == kExtension[k];
        if (match) text[i] = U' ';
    }
}

// Plavox splits at the first " - ": in the artist, every blank-hyphen pair
// (which also covers one left at the end, next to the separator) gets an
// en dash instead.
void BreakSeparators(std::u32string& artist)
{
    for (size_t i = 0; i + 1 < artist.size(); ++i) {
        if (artist[i] == U' ' && artist[i + 1] == U'-') artist[i + 1] = kEnDash;
    }
}

// Right after the separator " - ", a title starting "Plavox" or "- Plavox"
// completes a " - Plavox" of its own, and Plavox would cut it there.
void GuardTitleStart(std::u32string& title)
{
    if (title.starts_with(U"- Plavox")) title[0] = kEnDash;
    if (title.starts_with(kPlayerName)) title.insert(title.begin(), kNoBreakSpace);
}

// Plavox cuts the title at the first " - Plavox"; one early in the song's
// name would cut it short.
void BreakPlayerSuffix(std::u32string& title)
{
    for (size_t at = title.find(kSuffix); at != std::u32string::npos; at = title.find(kSuffix, at + 1)) {
        title[at + 1] = kEnDash;
    }
    GuardTitleStart(title);
}

void Sanitise(std::u32string& artist, std::u32string& title)
{
    TrimBlanks(artist);
    TrimBlanks(title);
    BreakFileExtensions(artist);
    BreakFileExtensions(title);
    TrimBlanks(artist);
    TrimBlanks(title);
    BreakSeparators(artist);
    BreakPlayerSuffix(title);
}

// Shortens the longer of the two until the whole title fits. A cut can
// leave blanks at the end (trimmed, as Plavox would) or a blank-hyphen pair
// at the artist's end, so the checks run again after every cut.
void FitWithin(size_t budget, std::u32string& artist, std::u32string& title)
{
    for (std::u32string* text : {&artist, &title}) {
        if (text->size() <= budget) continue;
        text->resize(budget);
        TrimBlanks(*text);
    }
    BreakSeparators(artist);
    while (artist.size() + title.size() > budget) {
        std::u32string& longer = artist.size() >= title.size() ? artist : title;
        longer.pop_back();
        TrimBlanks(longer);
        BreakSeparators(artist);
        GuardTitleStart(title);
    }
}

int64_t TrackNumber(const TrackMetadata& track)
{
    if (track.track_number && *track.track_number > 0) return *track.track_number;
    if (track.list_position && *track.list_position > 0) return static_cast<int64_t>(*track.list_position);
    return 1;
}

int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::u32string ToAnsiRepertoire(std::string_view utf8)
{
    std::u32string out;
    for (const char32_t c : DecodeUtf8(utf8)) AppendTransliterated(c, out);
    TrimBlanks(out);
    return out;
}

std::string FileNameWithoutExtension(std::string_view url)
{
    url = url.substr(0, url.find_first_of("?#"));
    const size_t slash = url.rfind('/');
    std::string name = PercentDecoded(slash == std::string_view::npos ? url : url.substr(slash + 1));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

ComposedTitle ComposeWindowTitle(const TrackMetadata& track)
{
    std::string joined;
    for (const std::string& artist : track.artists) {
        if (!joined.empty()) joined += ", ";
        joined += artist;
    }
    std::u32string artist = ToAnsiRepertoire(joined);
    std::u32string title = ToAnsiRepertoire(track.title);
    if (title.empty()) title = ToAnsiRepertoire(FileNameWithoutExtension(track.url));
    Sanitise(artist, title);

    ComposedTitle composed;
    composed.number = TrackNumber(track);
    const std::u32string number = DecodeUtf8(std::to_string(composed.number));
    const size_t fixed = number.size() + kNumberEnd.size() + kSeparator.size() + kSuffix.size();
    FitWithin(kTitleLimit - fixed, artist, title);

    std::u32string whole = number;
    whole.append(kNumberEnd).append(artist).append(kSeparator).append(title).append(kSuffix);
    composed.window_title = EncodeUtf8(whole);
    composed.artist = EncodeUtf8(artist);
    composed.title = EncodeUtf8(title);
    return composed;
}

}  // namespace mpris_bridge
