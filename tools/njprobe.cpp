// njprobe.exe: looks at and pokes Nightjar's windows from outside, the way a
// user would, for the tests that drive the real program. Wine without a
// window manager gives X tools little to hold on to; the Win32 calls here see
// every window, control and the tray control's hidden window.
//
//   njprobe wait TITLE [SECONDS]     waits until a top-level window has that title
//   njprobe gone TITLE [SECONDS]     waits until none has
//   njprobe click TITLE BUTTON       clicks a button of that window by its text
//   njprobe close TITLE              asks the window to close (WM_CLOSE)
//   njprobe minimize|restore TITLE   as the caption buttons and the taskbar do
//   njprobe state TITLE              prints "visible=0|1 iconic=0|1"
//   njprobe children TITLE           prints class, text and client rectangle of each child
//   njprobe client TITLE             prints the client size
//   njprobe rect TITLE               prints the window's screen rectangle: x y width height
//   njprobe move TITLE X Y           moves the window, keeping its size
//   njprobe tray                     prints "shown" while Wine's tray shows Nightjar's
//                                    icon, "hidden" while it does not, "absent" while
//                                    Nightjar has no tray control
//   njprobe tray-click               activates the tray icon as a click would
//   njprobe dialog TITLE             prints the text of a message box with that title
//   njprobe dialog-ok TITLE          presses its OK button
//   njprobe title-of CLASS           prints the title of the window of that class
//
// Exit status 0 on success, 1 when the window was not found in time, 2 on
// bad usage.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "nj/text.h"
#include "tray_control.h"

namespace {

HWND FindTopLevel(const wchar_t* title) { return ::FindWindowW(nullptr, title); }

HWND WaitFor(const wchar_t* title, double seconds, bool present)
{
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        HWND hwnd = FindTopLevel(title);
        if ((hwnd != nullptr) == present) return present ? hwnd : reinterpret_cast<HWND>(1);
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(50);
    }
}

std::wstring TextOf(HWND hwnd)
{
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

HWND FindChildByText(HWND parent, const wchar_t* text)
{
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
        if (TextOf(c) == text) return c;
    return nullptr;
}

// Wine's stand-in notification area, shown where the X server has none of
// its own: each icon it shows is a child window of the icon class in it, and
// the window hides while it has none.
constexpr wchar_t kWineTrayClass[] = L"__winex11_standalone_tray";
constexpr wchar_t kWineTrayTitle[] = L"Wine System Tray";
constexpr wchar_t kWineTrayIconClass[] = L"__winex11_tray_icon";

bool ShowsAnIcon(HWND tray)
{
    if (!tray || !::IsWindowVisible(tray)) return false;
    for (HWND c = ::FindWindowExW(tray, nullptr, kWineTrayIconClass, nullptr); c;
         c = ::FindWindowExW(tray, c, kWineTrayIconClass, nullptr))
        if (::IsWindowVisible(c)) return true;
    return false;
}

// Whether Wine's tray holds an icon for `owner`: the shell lets an icon be
// modified only while it has it, and a modification that names no field
// changes nothing.
bool TrayHoldsIconOf(HWND owner)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = nightjar::tray::kIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// Whether the tray shows the icon of `owner`, as a user would see it.
bool WineTrayShows(HWND owner)
{
    return ShowsAnIcon(::FindWindowW(kWineTrayClass, kWineTrayTitle)) && TrayHoldsIconOf(owner);
}

// The dialog class of message boxes.
HWND FindDialog(const wchar_t* title) { return ::FindWindowW(L"#32770", title); }

int Usage()
{
    std::fputs("usage: njprobe wait|gone|click|close|minimize|restore|state|children|client|tray|tray-click|"
               "dialog|dialog-ok ...\n",
               stderr);
    return 2;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2) return Usage();
    const std::wstring verb = argv[1];
    const wchar_t* title = argc > 2 ? argv[2] : nullptr;

    if (verb == L"tray" || verb == L"tray-click") {
        HWND owner = ::FindWindowW(nightjar::tray::kOwnerClass, nullptr);
        if (verb == L"tray") {
            std::puts(!owner ? "absent" : WineTrayShows(owner) ? "shown" : "hidden");
            return 0;
        }
        if (!owner) return 1;
        ::PostMessageW(owner, nightjar::tray::kCallbackMessage, 0, MAKELPARAM(NIN_SELECT, nightjar::tray::kIconId));
        return 0;
    }
    if (title == nullptr) return Usage();
    if (verb == L"title-of") {
        HWND hwnd = ::FindWindowW(title, nullptr);
        if (!hwnd) return 1;
        std::printf("%s\n", nj::text::ToUtf8(TextOf(hwnd)).c_str());
        return 0;
    }

    if (verb == L"wait" || verb == L"gone") {
        const double seconds = argc > 3 ? std::wcstod(argv[3], nullptr) : 10.0;
        return WaitFor(title, seconds, verb == L"wait") ? 0 : 1;
    }
    if (verb == L"dialog" || verb == L"dialog-ok") {
        HWND box = FindDialog(title);
        if (!box) return 1;
        if (verb == L"dialog-ok") {
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[64] = {};
            ::GetClassNameW(c, cls, 64);
            if (std::wcscmp(cls, L"Static") == 0 && !TextOf(c).empty())
                std::printf("%s\n", nj::text::ToUtf8(TextOf(c)).c_str());
        }
        return 0;
    }

    HWND hwnd = FindTopLevel(title);
    if (!hwnd) return 1;
    if (verb == L"click") {
        if (argc < 4) return Usage();
        HWND button = FindChildByText(hwnd, argv[3]);
        if (!button) return 1;
        // Posted, not sent: the click may run for the rest of the program's life.
        ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
    } else if (verb == L"close") {
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    } else if (verb == L"minimize") {
        ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (verb == L"restore") {
        ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    } else if (verb == L"state") {
        std::printf("visible=%d iconic=%d\n", ::IsWindowVisible(hwnd) ? 1 : 0, ::IsIconic(hwnd) ? 1 : 0);
    } else if (verb == L"move") {
        if (argc < 5) return Usage();
        ::SetWindowPos(hwnd, nullptr, std::wcstol(argv[3], nullptr, 10), std::wcstol(argv[4], nullptr, 10), 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    } else if (verb == L"rect") {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    } else if (verb == L"client") {
        RECT r{};
        ::GetClientRect(hwnd, &r);
        std::printf("%ld %ld\n", r.right, r.bottom);
    } else if (verb == L"children") {
        for (HWND c = ::GetWindow(hwnd, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[64] = {};
            ::GetClassNameW(c, cls, 64);
            RECT r{};
            ::GetWindowRect(c, &r);
            ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
            std::printf("%s|%s|%ld %ld %ld %ld\n", nj::text::ToUtf8(cls).c_str(), nj::text::ToUtf8(TextOf(c)).c_str(),
                        r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
    } else {
        return Usage();
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
