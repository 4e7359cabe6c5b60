// The window Plavox takes for the media player's: its class, its title
// "N. Artist - Title - Plavox", and its answers to the player's messages,
// every one given at once from the cache.
#pragma once

#include <winsock2.h>  // before <windows.h>, wherever this is included
#include <windows.h>

#include <functional>
#include <string>

#include "line_protocol.h"
#include "nj/window_base.h"
#include "player_cache.h"

namespace mpris_bridge {

// With NJ_MPRIS_TRACE set, a line on standard error with the Unix time for
// each command, each title change and each bit-rate query (Plavox asks for it right after
// it has read a new title), so the wait for Plavox's tick can be measured.
void TraceEvent(const char* what) noexcept;

class PlayerWindow : public nj::Window<PlayerWindow> {
public:
    static constexpr const wchar_t* kClassName = plavox::player::kWindowClassW;

    PlayerWindow(const PlayerCache& cache, std::function<void(Command)> forward)
        : cache_(cache), forward_(std::move(forward))
    {
    }
    ~PlayerWindow() { DestroySilently(); }

    HRESULT Open(const std::wstring& title) noexcept;
    void Close() noexcept { DestroySilently(); }
    bool IsOpen() const noexcept { return Handle() != nullptr; }
    void SetTitle(const std::wstring& title) noexcept;

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    LRESULT OnCommand(WPARAM wparam) noexcept;
    LRESULT OnRequest(WPARAM wparam, LPARAM lparam) noexcept;
    void OnPaint() noexcept;

    const PlayerCache& cache_;
    std::function<void(Command)> forward_;
};

}  // namespace mpris_bridge
