#include "player_window.h"

#include <cstdio>
#include <cstdlib>

#include "nj/unix_time.h"

namespace mpris_bridge {
namespace {

int64_t Now() noexcept { return static_cast<int64_t>(::GetTickCount64()); }

constexpr UINT_PTR kRepaintTimer = 1;
constexpr UINT kRepaintMs = 1000;  // the running position on screen

bool Tracing() noexcept
{
    static const bool tracing = std::getenv("NJ_MPRIS_TRACE") != nullptr;
    return tracing;
}

}  // namespace

void TraceEvent(const char* what) noexcept
{
    if (!Tracing()) return;
    const int64_t us = nj::UnixNowMicroseconds();
    std::fprintf(stderr, "nj-mpris-bridge: %s @%lld.%06lld\n", what, static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000));
    std::fflush(stderr);
}

HRESULT PlayerWindow::Open(const std::wstring& title) noexcept
{
    if (IsOpen()) {
        SetTitle(title);
        return S_OK;
    }
    RETURN_IF_FAILED(Create(nj::WindowParams::TopLevel(title.c_str(), WS_OVERLAPPEDWINDOW, 0, {40, 40}, {440, 110})));
    ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
    ::SetTimer(Handle(), kRepaintTimer, kRepaintMs, nullptr);
    return S_OK;
}

void PlayerWindow::SetTitle(const std::wstring& title) noexcept
{
    if (!IsOpen()) return;
    ::SetWindowTextW(Handle(), title.c_str());
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

LRESULT PlayerWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case WM_COMMAND:
        return OnCommand(wparam);
    case WM_USER:
        return OnRequest(wparam, lparam);
    case WM_CLOSE:
        // The window goes when the player has gone, as the helper reports it.
        if (forward_) forward_(Command::Quit);
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_TIMER:
        if (wparam == kRepaintTimer) ::InvalidateRect(Handle(), nullptr, TRUE);
        return 0;
    default:
        return DefaultHandling(message, wparam, lparam);
    }
}

LRESULT PlayerWindow::OnCommand(WPARAM wparam) noexcept
{
    const auto command = CommandForPlayerCommandId(static_cast<int>(LOWORD(wparam)));
    if (!command) return DefaultHandling(WM_COMMAND, wparam, 0);
    TraceEvent("command");
    if (forward_) forward_(*command);
    return 0;
}

LRESULT PlayerWindow::OnRequest(WPARAM wparam, LPARAM lparam) noexcept
{
    const auto request = static_cast<uint32_t>(lparam);
    if (request == plavox::player::kClearPlaylist) {
        std::fprintf(stderr, "nj-mpris-bridge: clear playlist does nothing: MPRIS has no such call\n");
    } else if (request == plavox::player::kTrackFormat && wparam == 1) {
        TraceEvent("bit-rate query");
    }
    return cache_.Answer(static_cast<uint32_t>(wparam), request, Now());
}

void PlayerWindow::OnPaint() noexcept
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(Handle(), &paint);
    wchar_t title[256] = L"";
    ::GetWindowTextW(Handle(), title, 256);
    const Status& status = cache_.Last();
    const wchar_t* state = status.state == PlayState::Playing  ? L"Playing"
                           : status.state == PlayState::Paused ? L"Paused"
                                                               : L"Stopped";
    wchar_t line[64];
    const int32_t seconds = cache_.PositionMsAt(Now()) / 1000;
    swprintf(line, 64, L"%ls   %d:%02d / %d:%02d   (through MPRIS)", state, seconds / 60, seconds % 60,
             status.length_s / 60, status.length_s % 60);
    HGDIOBJ old_font = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    RECT client;
    ::GetClientRect(Handle(), &client);
    RECT row{12, 10, client.right - 12, 30};
    ::DrawTextW(dc, title, -1, &row, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    row.top += 22;
    row.bottom += 22;
    ::DrawTextW(dc, line, -1, &row, DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, old_font);
    ::EndPaint(Handle(), &paint);
}

}  // namespace mpris_bridge
