// The text side of the status polling: splitting the player's window title
// into track number, artist and title, and the small conversions of the
// player's numeric answers. Free of the platform so it is tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plavox {

// What ParseTrackTitle takes from one window title. Fields it does not
// reach keep the values they had in the caller's record.
struct TitleParts {
    // The title held ". ": trackNumber is the text before it.
    bool hasTrackNumber = false;
    std::wstring trackNumber;
    // The rest named a ".mp3" file: the player shows a file name, not a
    // song, so only the track number is taken and nothing is raised.
    bool isFileName = false;
    std::wstring artist;
    std::wstring title;
};

// True when a title read from the player is worth parsing: it is not the
// one parsed last and it has a "-" somewhere (the player's idle caption has
// none).
bool TitleWantsParse(std::wstring_view text, std::wstring_view lastTitle) noexcept;

// Splits "12. Artist - Song - Plavox" into its parts. Any text is accepted;
// missing pieces leave the matching fields empty or unset.
TitleParts SplitTrackTitle(std::wstring_view text);

// Removes leading and trailing blanks (character 32 only).
std::wstring_view TrimBlanks(std::wstring_view text) noexcept;

// Digits with a leading "-" when negative; 0 gives "0".
std::wstring DecimalText(std::int32_t value);

// Whole seconds of a position in milliseconds, an exact half going to the
// even neighbour (1500 -> 2, 2500 -> 2, 3499 -> 3).
std::int32_t SecondsFromMilliseconds(std::int32_t ms) noexcept;

}  // namespace plavox
