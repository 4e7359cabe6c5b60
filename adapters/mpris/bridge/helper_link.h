// The bridge's end of the loopback connection to nj-mpris-helper: Winsock
// in asynchronous mode, its events delivered as window messages, so the one
// thread never waits on the network.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "line_channel.h"
#include "nj/unique.h"

namespace mpris_bridge {

struct socket_traits {
    using pointer = SOCKET;
    static pointer invalid() noexcept { return INVALID_SOCKET; }
    static void close(pointer s) noexcept { ::closesocket(s); }
};
using unique_socket = nj::unique_any<socket_traits>;

class HelperLink {
public:
    class Events {
    public:
        virtual void OnLinkMessage(const Message& message) = 0;
        virtual void OnLinkLost() = 0;

    protected:
        ~Events() = default;
    };

    // Socket events arrive at `window` as `message`, for OnSocketEvent.
    HelperLink(HWND window, UINT message, uint16_t port, std::string token, Events& events);

    // Starts a connection attempt; success or failure comes as events.
    void Connect();
    void OnSocketEvent(WPARAM wparam, LPARAM lparam);
    // Queued and sent as the socket allows; dropped when not connected.
    void Send(const Message& message);
    bool Connected() const noexcept { return connected_; }

private:
    void Read();
    void Flush();
    void Lose(const char* why, int error);

    HWND window_;
    UINT message_;
    uint16_t port_;
    std::string token_;
    Events& events_;
    unique_socket socket_;
    bool connected_ = false;
    LineChannel channel_;
};

}  // namespace mpris_bridge
