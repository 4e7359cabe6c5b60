// reltool.exe: the Windows-side pokes of the reliability tests.
//
//   reltool close TITLE       asks the window to close (WM_CLOSE) and prints
//                             the Unix time at which it asked, in seconds
//   reltool forget-icon       takes Nightjar's tray icon away, as a tray host
//                             that went down would have lost it
//   reltool taskbar-created   tells every top-level window that a tray host
//                             (re)started, as the shell does
//   reltool serve             reads lines "title TEXT" (UTF-8) on stdin and
//                             sets the player window's title to TEXT,
//                             answering "ok" or "no player" on stdout
//
// Exit status 0 on success, 1 when the window was not there, 2 on bad usage.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <string>

#include "nj/text.h"
#include "nj/unix_time.h"
#include "plavox/player_window.h"
#include "tray_control.h"

namespace {

constexpr const wchar_t* kPlayerClass = plavox::player::kWindowClassW;

int Close(const wchar_t* title)
{
    HWND hwnd = ::FindWindowW(nullptr, title);
    if (!hwnd) return 1;
    const std::int64_t at = nj::UnixNowMicroseconds();
    if (!::PostMessageW(hwnd, WM_CLOSE, 0, 0)) return 1;
    std::printf("%lld.%06lld\n", static_cast<long long>(at / 1000000), static_cast<long long>(at % 1000000));
    return 0;
}

int ForgetIcon()
{
    HWND owner = ::FindWindowW(nightjar::tray::kOwnerClass, nullptr);
    if (!owner) return 1;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = nightjar::tray::kIconId;
    return ::Shell_NotifyIconW(NIM_DELETE, &data) ? 0 : 1;
}

int TaskbarCreated()
{
    const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
    return message != 0 && ::SendNotifyMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
}

int Serve()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("title ", 0) != 0) {
            std::puts("bad request");
        } else {
            HWND player = ::FindWindowW(kPlayerClass, nullptr);
            const std::wstring text = nj::text::FromUtf8(std::string_view(line).substr(6));
            std::puts(player && ::SendMessageW(player, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()))
                          ? "ok"
                          : "no player");
        }
        std::fflush(stdout);
    }
    return 0;
}

int Usage()
{
    std::fputs("usage: reltool close TITLE | forget-icon | taskbar-created | serve\n", stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return Usage();
    const std::wstring verb = argv[1];
    if (verb == L"close" && argc == 3) return Close(argv[2]);
    if (verb == L"forget-icon" && argc == 2) return ForgetIcon();
    if (verb == L"taskbar-created" && argc == 2) return TaskbarCreated();
    if (verb == L"serve" && argc == 2) return Serve();
    return Usage();
}
