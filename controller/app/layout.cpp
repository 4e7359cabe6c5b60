#include "layout.h"

namespace nightjar::app {

int SystemDpi() noexcept
{
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

nj::unique_hfont MakeFont(const wchar_t* face, int centipoints, bool bold, int dpi) noexcept
{
    const int height = -::MulDiv(centipoints, dpi, 7200);
    return nj::unique_hfont(::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                          DEFAULT_PITCH | FF_DONTCARE, face));
}

SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style) noexcept
{
    RECT r{0, 0, client_width, client_height};
    ::AdjustWindowRectEx(&r, style, FALSE, ex_style);
    return {r.right - r.left, r.bottom - r.top};
}

HWND CreateChild(HWND parent, const wchar_t* window_class, const wchar_t* text, DWORD style, const TwipsRect& at,
                 int dpi, HFONT font, int id) noexcept
{
    const RECT r = ToPixels(at, dpi);
    HWND child = ::CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                   r.right - r.left, r.bottom - r.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
    if (child && font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

}  // namespace nightjar::app
