// Laying out a window's child controls at the system DPI. Windows are laid
// out once and never rescaled; positions come in twips (as forms are drawn)
// or in pixels at 96 DPI.
#pragma once

#include <windows.h>

#include "nj/module.h"
#include "nj/unique.h"

namespace nj::layout {

struct TwipsRect {
    int left, top, width, height;
};

inline int TwipsToPixels(int twips, int dpi) noexcept { return ::MulDiv(twips, dpi, 1440); }
inline int ScaleFrom96(int pixels_at_96, int dpi) noexcept { return ::MulDiv(pixels_at_96, dpi, 96); }

inline RECT ToPixels(const TwipsRect& r, int dpi) noexcept
{
    const int left = TwipsToPixels(r.left, dpi);
    const int top = TwipsToPixels(r.top, dpi);
    return {left, top, left + TwipsToPixels(r.width, dpi), top + TwipsToPixels(r.height, dpi)};
}

// The system DPI; 96 where the screen does not say.
inline int SystemDpi() noexcept
{
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// A font of a size in hundredths of a point (825 for 8.25 pt): the cell
// height is rounded to the nearest pixel, 11 px for 8.25 pt at 96 DPI.
inline unique_hfont MakeFont(const wchar_t* face, int centipoints, bool bold, int dpi) noexcept
{
    const int height = -::MulDiv(centipoints, dpi, 7200);
    return unique_hfont(::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      DEFAULT_PITCH | FF_DONTCARE, face));
}

// The window size that gives a client area of the size asked for.
inline SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style) noexcept
{
    RECT r{0, 0, client_width, client_height};
    ::AdjustWindowRectEx(&r, style, FALSE, ex_style);
    return {r.right - r.left, r.bottom - r.top};
}

// A visible child control of a standard class at a pixel rectangle, in its
// font. Children are created in tab order.
inline HWND CreateChild(HWND parent, const wchar_t* window_class, const wchar_t* text, DWORD style, const RECT& at,
                        HFONT font, int id, DWORD ex_style = 0) noexcept
{
    HWND child = ::CreateWindowExW(ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                                   at.right - at.left, at.bottom - at.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), CurrentModule(), nullptr);
    if (child && font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

// The same at a twips rectangle.
inline HWND CreateChild(HWND parent, const wchar_t* window_class, const wchar_t* text, DWORD style, const TwipsRect& at,
                        int dpi, HFONT font, int id) noexcept
{
    return CreateChild(parent, window_class, text, style, ToPixels(at, dpi), font, id);
}

}  // namespace nj::layout
