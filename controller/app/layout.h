// Sizes and fonts of the two windows. Positions are kept in twips, as the
// forms were laid out, and turned into pixels at the system DPI.
#pragma once

#include <windows.h>

#include "nj/unique.h"

namespace nightjar::app {

struct TwipsRect {
    int left, top, width, height;
};

inline int TwipsToPixels(int twips, int dpi) noexcept { return ::MulDiv(twips, dpi, 1440); }

inline RECT ToPixels(const TwipsRect& r, int dpi) noexcept
{
    const int left = TwipsToPixels(r.left, dpi);
    const int top = TwipsToPixels(r.top, dpi);
    return {left, top, left + TwipsToPixels(r.width, dpi), top + TwipsToPixels(r.height, dpi)};
}

// The system DPI, as the windows are laid out once and never rescaled.
int SystemDpi() noexcept;

// A font of a size in hundredths of a point (825 for 8.25 pt): the cell
// height is rounded to the nearest pixel, 11 px for 8.25 pt at 96 DPI.
nj::unique_hfont MakeFont(const wchar_t* face, int centipoints, bool bold, int dpi) noexcept;

// The window size that gives a client area of the size asked for.
SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style) noexcept;

// Creates a child control of a standard class at a twips rectangle, in its
// font; children are created in tab order.
HWND CreateChild(HWND parent, const wchar_t* window_class, const wchar_t* text, DWORD style, const TwipsRect& at,
                 int dpi, HFONT font, int id) noexcept;

}  // namespace nightjar::app
