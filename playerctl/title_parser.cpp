#include "title_parser.h"

#include <cmath>

namespace plavox {
namespace {

constexpr std::wstring_view kTrackNumberEnd = L". ";
constexpr std::wstring_view kPlayerSuffix = L" - Plavox";
constexpr std::wstring_view kSeparator = L" - ";
constexpr std::wstring_view kFileExtension = L".mp3";

wchar_t FoldAsciiCase(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view lowerNeedle) noexcept
{
    if (lowerNeedle.size() > text.size()) return false;
    for (size_t start = 0; start + lowerNeedle.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < lowerNeedle.size() && FoldAsciiCase(text[start + i]) == lowerNeedle[i]) ++i;
        if (i == lowerNeedle.size()) return true;
    }
    return false;
}

}  // namespace

bool TitleWantsParse(std::wstring_view text, std::wstring_view lastTitle) noexcept
{
    return text != lastTitle && text.find(L'-') != std::wstring_view::npos;
}

TitleParts SplitTrackTitle(std::wstring_view text)
{
    TitleParts parts;

    if (const size_t dot = text.find(kTrackNumberEnd); dot != std::wstring_view::npos) {
        parts.hasTrackNumber = true;
        parts.trackNumber.assign(text.substr(0, dot));
        text.remove_prefix(dot + kTrackNumberEnd.size());
    }
    if (const size_t suffix = text.find(kPlayerSuffix); suffix != std::wstring_view::npos) {
        text = text.substr(0, suffix);
    }
    if (ContainsIgnoringCase(text, kFileExtension)) {
        parts.isFileName = true;
        return parts;
    }
    if (const size_t sep = text.find(kSeparator); sep != std::wstring_view::npos) {
        parts.artist.assign(TrimBlanks(text.substr(0, sep)));
        // From the separator's closing blank on; the trim takes it off.
        parts.title.assign(TrimBlanks(text.substr(sep + 2)));
    } else {
        parts.artist.assign(TrimBlanks(text));
    }
    return parts;
}

std::wstring_view TrimBlanks(std::wstring_view text) noexcept
{
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) return {};
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

std::wstring DecimalText(std::int32_t value)
{
    return std::to_wstring(value);
}

std::int32_t SecondsFromMilliseconds(std::int32_t ms) noexcept
{
    const double seconds = ms / 1000.0;
    const double below = std::floor(seconds);
    const double fraction = seconds - below;
    double rounded = below;
    if (fraction > 0.5) {
        rounded = below + 1;
    } else if (fraction == 0.5) {
        rounded = std::fmod(below, 2.0) == 0 ? below : below + 1;
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace plavox
