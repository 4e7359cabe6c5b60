// Ties the link to the helper and the player window together on a
// message-only window (which FindWindow never returns, so Plavox sees no
// player until the helper reports one).
#pragma once

#include "helper_link.h"  // Winsock before <windows.h>

#include <memory>
#include <string>

#include "nj/window_base.h"
#include "player_cache.h"
#include "player_window.h"

namespace mpris_bridge {

class BridgeApp : public nj::Window<BridgeApp>, private HelperLink::Events {
public:
    static constexpr wchar_t kClassName[] = L"Nightjar MPRIS link";

    BridgeApp(uint16_t port, std::string token);
    ~BridgeApp() { DestroySilently(); }

    HRESULT Start() noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    void OnLinkMessage(const Message& message) override;
    void OnLinkLost() override;
    void ShowPresence(bool present);
    void ScheduleReconnect();

    uint16_t port_;
    std::string token_;
    PlayerCache cache_;
    PlayerWindow player_;
    std::unique_ptr<HelperLink> link_;
    bool present_ = false;
    std::wstring title_;
};

}  // namespace mpris_bridge
