// The media player's window as Plavox drives it: the window class Plavox
// looks for, the WM_COMMAND numbers of the player's own menu commands and
// the WM_USER queries it answers. Everything that stands in for the player
// (the simulator, the MPRIS bridge's window) and the harness that watches
// its log speak these numbers. Free of <windows.h>, like dispids.h.
#pragma once

#include <cstdint>

namespace plavox::player {

inline constexpr char kWindowClass[] = "Plavox v1.x";
inline constexpr wchar_t kWindowClassW[] = L"Plavox v1.x";

// wParam of a WM_COMMAND to the player's window.
enum Command : std::uint16_t {
    kPrevious = 40044,
    kPlay = 40045,
    kPause = 40046,
    kStop = 40047,
    kNext = 40048,
    kShuffle = 40023,
    kSkipBack = 40144,
    kFadeAndStop = 40147,
    kSkipForward = 40148,
};

// WM_USER, whose lParam selects what is asked or done and wParam a variant.
inline constexpr std::uint32_t kUserMessage = 0x0400;
enum Request : std::uint32_t {
    kClearPlaylist = 101,
    kPlayState = 104,         // answers 1 playing, 3 paused, 0 stopped
    kPositionOrLength = 105,  // wParam 0: position in ms; 1: length in s
    kTrackFormat = 126,       // wParam 0: sample rate in Hz; 1: bit rate in kbit/s
};

}  // namespace plavox::player
