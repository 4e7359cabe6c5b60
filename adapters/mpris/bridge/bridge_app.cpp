#include "bridge_app.h"

#include <cstdio>

#include "nj/text.h"

namespace mpris_bridge {
namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT_PTR kReconnectTimer = 1;
constexpr UINT kReconnectMs = 500;

}  // namespace

BridgeApp::BridgeApp(uint16_t port, std::string token)
    : port_(port),
      token_(std::move(token)),
      player_(cache_, [this](Command command) {
          if (link_ && link_->Connected()) link_->Send(CommandLine{command});
      })
{
}

HRESULT BridgeApp::Start() noexcept
{
    RETURN_IF_FAILED(Create(nj::WindowParams::MessageOnly()));
    HelperLink::Events& events = *this;
    link_ = std::make_unique<HelperLink>(Handle(), kSocketMessage, port_, token_, events);
    link_->Connect();
    return S_OK;
}

LRESULT BridgeApp::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case kSocketMessage:
        link_->OnSocketEvent(wparam, lparam);
        return 0;
    case WM_TIMER:
        if (wparam == kReconnectTimer) {
            ::KillTimer(Handle(), kReconnectTimer);
            link_->Connect();
        }
        return 0;
    default:
        return DefaultHandling(message, wparam, lparam);
    }
}

void BridgeApp::OnLinkMessage(const Message& message)
{
    if (const auto* presence = std::get_if<Presence>(&message)) {
        ShowPresence(presence->present);
    } else if (const auto* track = std::get_if<TrackTitle>(&message)) {
        title_ = nj::text::FromUtf8(track->title);
        player_.SetTitle(title_);
        TraceEvent("title");
    } else if (const auto* status = std::get_if<StatusLine>(&message)) {
        cache_.Apply(status->status, static_cast<int64_t>(::GetTickCount64()));
        if (player_.IsOpen()) ::InvalidateRect(player_.Handle(), nullptr, TRUE);
    }
}

void BridgeApp::ShowPresence(bool present)
{
    present_ = present;
    if (!present) {
        player_.Close();
        cache_.Clear();
        return;
    }
    if (FAILED(player_.Open(title_))) std::fprintf(stderr, "nj-mpris-bridge: cannot open the player window\n");
}

void BridgeApp::OnLinkLost()
{
    // Without the helper nothing the window would say is known.
    ShowPresence(false);
    title_.clear();
    ScheduleReconnect();
}

void BridgeApp::ScheduleReconnect() { ::SetTimer(Handle(), kReconnectTimer, kReconnectMs, nullptr); }

}  // namespace mpris_bridge
