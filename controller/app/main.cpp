// Nightjar.exe: opens on the port chooser. A click on a port button runs
// the rest of the program's life inside that click: the main window's load
// step, then MainLoop, which ends the process itself.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "main_window.h"
#include "nj/module.h"
#include "nj/unique.h"
#include "set_port_window.h"

namespace nightjar::app {
namespace {

// Process-wide: 0 until a port button is clicked, then 1 to 4.
std::int32_t PortNumber = 0;

// A hidden window that owns the chooser, keeping it out of the taskbar.
nj::unique_hwnd CreateHiddenOwner() noexcept
{
    return nj::unique_hwnd(
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nj::CurrentModule(), nullptr));
}

int Run() noexcept
{
    const auto com = nj::CoInitializeApartment();
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);

    const ProgramIcons icons = ProgramIcons::Load();
    const nj::unique_hwnd owner = CreateHiddenOwner();
    SetPortWindow chooser;
    std::unique_ptr<MainWindow> main_window;

    const auto on_port_button = [&](int index) {
        // Errors here are ignored: the chooser stays for another click
        // unless the load step has already unloaded it.
        PortNumber = index + 1;
        try {
            main_window = std::make_unique<MainWindow>(icons, [&] { chooser.Unload(); });
        } catch (...) {
            return;
        }
        if (FAILED(main_window->ShowAndLoad(PortNumber))) main_window.reset();
    };
    if (FAILED(chooser.Create(owner.get(), icons.large.get(), on_port_button))) return 1;
    chooser.Show();

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (chooser.Handle() && ::IsDialogMessageW(chooser.Handle(), &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace
}  // namespace nightjar::app

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return nightjar::app::Run(); }
