#include "helper_link.h"

#include <cstdio>

namespace mpris_bridge {
HelperLink::HelperLink(HWND window, UINT message, uint16_t port, std::string token, Events& events)
    : window_(window), message_(message), port_(port), token_(std::move(token)), events_(events)
{
}

void HelperLink::Connect()
{
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    connected_ = false;
    channel_.Reset();
    if (!socket_) {
        Lose("cannot make a socket", ::WSAGetLastError());
        return;
    }
    // Lines are small and each one is wanted now.
    const BOOL no_delay = TRUE;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    // Also makes the socket non-blocking.
    if (::WSAAsyncSelect(socket_.get(), window_, message_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        Lose("cannot watch the socket", ::WSAGetLastError());
        return;
    }
    sockaddr_in helper{};
    helper.sin_family = AF_INET;
    helper.sin_port = ::htons(port_);
    helper.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&helper), sizeof helper) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        Lose("cannot connect to the helper", ::WSAGetLastError());
    }
}

void HelperLink::OnSocketEvent(WPARAM wparam, LPARAM lparam)
{
    // Events of a socket already closed may still be queued.
    if (!socket_ || static_cast<SOCKET>(wparam) != socket_.get()) return;
    const int error = WSAGETSELECTERROR(lparam);
    switch (WSAGETSELECTEVENT(lparam)) {
    case FD_CONNECT:
        if (error != 0) {
            Lose("cannot connect to the helper", error);
            return;
        }
        connected_ = true;
        std::fprintf(stderr, "nj-mpris-bridge: connected to the helper on port %u\n", port_);
        Send(Hello{token_});
        break;
    case FD_READ:
        Read();
        break;
    case FD_WRITE:
        Flush();
        break;
    case FD_CLOSE:
        Read();  // what came before the close still counts
        Lose("the helper closed the connection", error);
        break;
    default:
        break;
    }
}

void HelperLink::Send(const Message& message)
{
    if (!connected_) return;
    if (!channel_.Queue(message)) {
        Lose("the helper has stopped reading", 0);
        return;
    }
    Flush();
}

void HelperLink::Read()
{
    char buffer[4096];
    for (;;) {
        if (!socket_) return;
        const int got = ::recv(socket_.get(), buffer, sizeof buffer, 0);
        if (got <= 0) return;  // would block, closed (FD_CLOSE follows) or failed
        channel_.Received(std::string_view(buffer, static_cast<size_t>(got)));
        while (auto line = channel_.NextLine()) {
            if (line->oversized) {
                std::fprintf(stderr, "nj-mpris-bridge: skipped a line longer than %u bytes\n",
                             static_cast<unsigned>(kMaxLine));
                continue;
            }
            const Parsed parsed = ParseLine(line->text);
            if (!parsed.message) {
                std::fprintf(stderr, "nj-mpris-bridge: skipped a line from the helper: %s\n", parsed.error.c_str());
                continue;
            }
            events_.OnLinkMessage(*parsed.message);
            if (!socket_) return;
        }
    }
}

void HelperLink::Flush()
{
    while (channel_.HasUnsent() && socket_) {
        const std::string_view unsent = channel_.Unsent();
        const int sent = ::send(socket_.get(), unsent.data(), static_cast<int>(unsent.size()), 0);
        if (sent == SOCKET_ERROR) {
            if (::WSAGetLastError() == WSAEWOULDBLOCK) break;  // FD_WRITE will come
            Lose("cannot send to the helper", ::WSAGetLastError());
            return;
        }
        channel_.Sent(static_cast<size_t>(sent));
    }
}

void HelperLink::Lose(const char* why, int error)
{
    std::fprintf(stderr, "nj-mpris-bridge: %s (%d)\n", why, error);
    socket_.reset();
    connected_ = false;
    channel_.Reset();
    events_.OnLinkLost();
}

}  // namespace mpris_bridge
