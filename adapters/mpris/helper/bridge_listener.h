// The helper's end of the link to the bridge window: a TCP listener on
// 127.0.0.1 only, on the thread's default main context. A connection counts
// once its first line is HELLO with the run's token; a new authenticated
// connection replaces the old one (the bridge was restarted). A client that
// is dropped is freed only after the callback that dropped it has returned.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "glib_ptr.h"
#include "line_channel.h"

namespace mpris_helper {

class BridgeListener {
public:
    struct Callbacks {
        std::function<void()> connected;  // a bridge has just authenticated
        std::function<void(mpris_bridge::Command)> command;
    };

    // Port 0 lets the system choose; `error` says why nothing listens.
    static std::unique_ptr<BridgeListener> Start(uint16_t port, std::string token, Callbacks callbacks,
                                                 std::string& error);
    ~BridgeListener();

    uint16_t Port() const noexcept { return port_; }
    bool HasBridge() const noexcept;
    // To the authenticated bridge, if there is one.
    void Send(const mpris_bridge::Message& message);

private:
    struct Client;

    BridgeListener(std::string token, Callbacks callbacks);
    static gboolean OnIncoming(GSocket* socket, GIOCondition condition, gpointer self);
    static gboolean OnReadable(GSocket* socket, GIOCondition condition, gpointer client);
    static gboolean OnWritable(GSocket* socket, GIOCondition condition, gpointer client);
    static gboolean OnHelloLate(gpointer client);
    static gboolean OnReap(gpointer self);

    void Accept();
    void ReadFrom(Client& client);
    void HandleLine(Client& client, const std::string& line);
    void Flush(Client& client);
    void Drop(Client& client, const std::string& why);

    std::string token_;
    Callbacks callbacks_;
    gobject_ptr<GSocket> socket_;
    unique_source incoming_;
    uint16_t port_ = 0;
    std::list<std::unique_ptr<Client>> clients_;
    unique_source reap_;
};

}  // namespace mpris_helper
