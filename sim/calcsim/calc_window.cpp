#include "calc_window.h"

#include <iterator>

#include "calculator_end.h"
#include "nj/layout.h"
#include "nj/text.h"

namespace nightjar::calc {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 260, kClientHeight = 300;  // at 96 DPI

// An LCD's grey-green panel with dark segments.
constexpr COLORREF kScreenColor = RGB(0xB5, 0xC4, 0x9C);
constexpr COLORREF kScreenText = RGB(0x1C, 0x24, 0x1A);

// The window is laid out once, at the DPI it starts with.
int Dpi() noexcept
{
    static const int dpi = nj::layout::SystemDpi();
    return dpi;
}

int Scaled(int pixels_at_96) noexcept { return nj::layout::ScaleFrom96(pixels_at_96, Dpi()); }

nj::unique_hfont MakeFont(const wchar_t* face, int points, bool bold) noexcept
{
    return nj::layout::MakeFont(face, points * 100, bold, Dpi());
}

}  // namespace

HRESULT CalcWindow::Create(int x, int y, PressHandler on_press, RejectHandler on_reject) noexcept
{
    on_press_ = std::move(on_press);
    on_reject_ = std::move(on_reject);
    const SIZE size = nj::layout::WindowSizeForClient(Scaled(kClientWidth), Scaled(kClientHeight), kStyle, kExStyle);
    auto params = nj::WindowParams::TopLevel(kTitle, kStyle, kExStyle, {x, y}, size);
    params.icon = ::LoadIconW(nullptr, IDI_APPLICATION);
    RETURN_IF_FAILED(Window::Create(params));
    CreateControls();
    ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
    return S_OK;
}

HWND CalcWindow::Add(const wchar_t* window_class, const wchar_t* text, DWORD style, int x, int y, int width,
                     int height, HFONT font, int id, DWORD ex_style) noexcept
{
    const RECT at{Scaled(x), Scaled(y), Scaled(x) + Scaled(width), Scaled(y) + Scaled(height)};
    return nj::layout::CreateChild(Handle(), window_class, text, style, at, font, id, ex_style);
}

void CalcWindow::CreateControls() noexcept
{
    ui_font_ = MakeFont(L"Tahoma", 8, false);
    screen_font_ = MakeFont(L"Courier New", 11, true);
    screen_brush_.reset(::CreateSolidBrush(kScreenColor));

    screen_ = Add(L"STATIC", L"\r\n  waiting for a track", SS_LEFT | SS_NOPREFIX, 10, 10, 240, 84,
                  screen_font_.get(), -1, WS_EX_STATICEDGE);
    int index = 0;
    for (const Key& key : kKeys) {
        const int column = index % 2, row = index / 2;
        Add(L"BUTTON", nj::text::FromUtf8(key.label).c_str(), WS_TABSTOP | BS_PUSHBUTTON, 10 + column * 123,
            104 + row * 32, 117, 27, ui_font_.get(), kFirstKeyId + index);
        ++index;
    }
    Add(L"STATIC", L"Byte:", SS_LEFT, 10, 240, 36, 16, ui_font_.get(), -1);
    Add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, 48, 236, 120, 22, ui_font_.get(), kByteFieldId, WS_EX_CLIENTEDGE);
    Add(L"BUTTON", L"Send", WS_TABSTOP | BS_PUSHBUTTON, 176, 235, 74, 25, ui_font_.get(), kSendId);
    status_ = Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 10, 272, 240, 18, ui_font_.get(), -1,
                  WS_EX_STATICEDGE);
}

void CalcWindow::ShowTrack(const std::wstring& artist, const std::wstring& title) noexcept
{
    const std::wstring text = artist.empty() && title.empty() ? L"\r\n  (nothing playing)"
                                                              : L"Now playing:\r\n" + artist + L"\r\n" + title;
    ::SetWindowTextW(screen_, text.c_str());
}

void CalcWindow::ShowStatus(const std::wstring& text) noexcept { ::SetWindowTextW(status_, text.c_str()); }

LRESULT CalcWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == screen_) {
            HDC dc = reinterpret_cast<HDC>(wparam);
            ::SetTextColor(dc, kScreenText);
            ::SetBkColor(dc, kScreenColor);
            return reinterpret_cast<LRESULT>(screen_brush_.get());
        }
        return DefaultHandling(message, wparam, lparam);
    case WM_CLOSE:
        DestroySilently();
        ::PostQuitMessage(0);
        return 0;
    default:
        return DefaultHandling(message, wparam, lparam);
    }
}

void CalcWindow::OnCommand(int id, int code) noexcept
{
    if (code != BN_CLICKED) return;
    const int index = id - kFirstKeyId;
    if (index >= 0 && index < static_cast<int>(std::size(kKeys))) {
        if (on_press_) on_press_(kKeys[index].byte);
    } else if (id == kSendId || id == IDOK) {
        OnSend();
    }
}

void CalcWindow::OnSend() noexcept
{
    wchar_t buffer[64] = {};
    ::GetDlgItemTextW(Handle(), kByteFieldId, buffer, static_cast<int>(std::size(buffer)));
    const std::wstring text = buffer;
    if (const auto byte = ParseByte(nj::text::ToUtf8(text))) {
        if (on_press_) on_press_(*byte);
    } else if (on_reject_) {
        on_reject_(text);
    }
}

}  // namespace nightjar::calc
