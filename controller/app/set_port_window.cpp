#include "set_port_window.h"

#include "nj/layout.h"

namespace nightjar::app {
using namespace nj::layout;

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 3255, kClientHeight = 1095;  // twips

constexpr TwipsRect kLabel1 = {120, 120, 3015, 375};
constexpr TwipsRect ButtonAt(int index) { return {240 + 720 * index, 480, 615, 495}; }

}  // namespace

HRESULT SetPortWindow::Create(HWND owner, HICON icon, ClickHandler on_click) noexcept
{
    on_click_ = std::move(on_click);
    const int dpi = SystemDpi();
    const SIZE size = WindowSizeForClient(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi),
                                          kStyle, kExStyle);
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    auto params = nj::WindowParams::TopLevel(L"Set Link Port:", kStyle, kExStyle, {x, y}, size);
    params.icon = icon;
    params.parent = owner;
    RETURN_IF_FAILED(Window::Create(params));
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    label_font_ = MakeFont(L"Tahoma", 825, false, dpi);
    button_font_ = MakeFont(L"Verdana", 825, false, dpi);
    // Children are made in tab order: the four buttons, then the label.
    for (int index = 0; index < 4; ++index) {
        const wchar_t caption[2] = {static_cast<wchar_t>(L'1' + index), 0};
        CreateChild(Handle(), L"BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, ButtonAt(index), dpi,
                    button_font_.get(), kFirstButtonId + index);
    }
    CreateChild(Handle(), L"STATIC", L"Which serial port is your TI attached to?", SS_LEFT | SS_NOPREFIX, kLabel1,
                dpi, label_font_.get(), -1);
    return S_OK;
}

void SetPortWindow::Show() noexcept
{
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
    ::SetFocus(::GetDlgItem(Handle(), kFirstButtonId));
}

LRESULT SetPortWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    default:
        return DefaultHandling(message, wparam, lparam);
    }
}

void SetPortWindow::OnCommand(int id, int code) noexcept
{
    const int index = id - kFirstButtonId;
    if (code != BN_CLICKED || index < 0 || index > 3) return;
    // The handler may unload this window and never come back: the program's
    // whole run takes place inside this click.
    if (on_click_) on_click_(index);
}

void SetPortWindow::OnClose() noexcept
{
    // No port was chosen and no other window exists: the program ends.
    DestroySilently();
    ::PostQuitMessage(0);
}

}  // namespace nightjar::app
