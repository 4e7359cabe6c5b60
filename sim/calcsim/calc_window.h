// The calculator simulator's window: an LCD that shows the track last
// announced, the keypad, a field for any byte with its Send button and a
// status line. It only collects presses; the link belongs to the loop that
// owns the window, which is never re-entered from a click.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "nj/unique.h"
#include "nj/window_base.h"

namespace nightjar::calc {

class CalcWindow final : public nj::Window<CalcWindow> {
public:
    static constexpr wchar_t kClassName[] = L"NightjarCalcSim";
    static constexpr wchar_t kTitle[] = L"Calculator";
    static constexpr int kFirstKeyId = 200;  // kKeys[i] has id 200 + i
    static constexpr int kByteFieldId = 250;
    static constexpr int kSendId = 251;

    // A key or the Send button asks for this byte to go out.
    using PressHandler = std::function<void(std::uint8_t byte)>;
    // The Send button with something that is not a byte.
    using RejectHandler = std::function<void(const std::wstring& text)>;

    HRESULT Create(int x, int y, PressHandler on_press, RejectHandler on_reject) noexcept;

    void ShowTrack(const std::wstring& artist, const std::wstring& title) noexcept;
    void ShowStatus(const std::wstring& text) noexcept;

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    void CreateControls() noexcept;
    void OnCommand(int id, int code) noexcept;
    void OnSend() noexcept;
    HWND Add(const wchar_t* window_class, const wchar_t* text, DWORD style, int x, int y, int width, int height,
             HFONT font, int id, DWORD ex_style = 0) noexcept;

    PressHandler on_press_;
    RejectHandler on_reject_;
    HWND screen_ = nullptr;
    HWND status_ = nullptr;
    nj::unique_hfont ui_font_;
    nj::unique_hfont screen_font_;
    nj::unique_hbrush screen_brush_;
};

}  // namespace nightjar::calc
