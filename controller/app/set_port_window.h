// frmSetPort: the port chooser the program opens on. One row of four
// buttons, "1" to "4"; a click hands the chosen button's index on.
#pragma once

#include <windows.h>

#include <functional>

#include "nj/unique.h"
#include "nj/window_base.h"

namespace nightjar::app {

class SetPortWindow final : public nj::Window<SetPortWindow> {
public:
    static constexpr wchar_t kClassName[] = L"NightjarSetPort";
    static constexpr int kFirstButtonId = 100;  // cmdSetLink(index) has id 100 + index

    using ClickHandler = std::function<void(int index)>;

    // The owner keeps the chooser out of the taskbar; the icon is the
    // program's and stays the caller's.
    HRESULT Create(HWND owner, HICON icon, ClickHandler on_click) noexcept;
    void Show() noexcept;
    // Closes the window without ending the program: the main window's load
    // step does this once a port was chosen.
    void Unload() noexcept { DestroySilently(); }

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    void OnCommand(int id, int code) noexcept;
    void OnClose() noexcept;
    void CreateControls() noexcept;

    ClickHandler on_click_;
    nj::unique_hfont label_font_;
    nj::unique_hfont button_font_;
};

}  // namespace nightjar::app
