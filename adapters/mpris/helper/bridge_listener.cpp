#include "bridge_listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>

#include "log.h"

namespace mpris_helper {
namespace {

constexpr size_t kMaxUnauthenticated = 4;
constexpr guint kHelloTimeoutMs = 5000;

}  // namespace

struct BridgeListener::Client {
    BridgeListener* owner = nullptr;
    gobject_ptr<GSocket> socket;
    unique_source readable;
    unique_source writable;
    unique_source hello_deadline;
    mpris_bridge::LineChannel channel;
    bool authenticated = false;
    bool dropped = false;  // freed once the callback under way has returned
    std::string peer;
};

BridgeListener::BridgeListener(std::string token, Callbacks callbacks)
    : token_(std::move(token)), callbacks_(std::move(callbacks))
{
}

BridgeListener::~BridgeListener() = default;

std::unique_ptr<BridgeListener> BridgeListener::Start(uint16_t port, std::string token, Callbacks callbacks,
                                                      std::string& error)
{
    std::unique_ptr<BridgeListener> listener(new BridgeListener(std::move(token), std::move(callbacks)));
    GError* raw = nullptr;
    listener->socket_.reset(g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, &raw));
    gobject_ptr<GInetAddress> loopback(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    gobject_ptr<GSocketAddress> address(g_inet_socket_address_new(loopback.get(), port));
    // A restarted helper takes its port back while the old connection lingers.
    const bool listening = listener->socket_ && g_socket_bind(listener->socket_.get(), address.get(), TRUE, &raw) &&
                           g_socket_listen(listener->socket_.get(), &raw);
    gerror_ptr failure(raw);
    if (!listening) {
        error = failure ? failure->message : "cannot make a socket";
        return nullptr;
    }
    g_socket_set_blocking(listener->socket_.get(), FALSE);
    gobject_ptr<GSocketAddress> bound(g_socket_get_local_address(listener->socket_.get(), nullptr));
    listener->port_ = bound ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get())) : port;
    listener->incoming_ = WatchSocket(listener->socket_.get(), G_IO_IN, &BridgeListener::OnIncoming, listener.get());
    return listener;
}

bool BridgeListener::HasBridge() const noexcept
{
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const auto& c) { return c->authenticated && !c->dropped; });
}

void BridgeListener::Send(const mpris_bridge::Message& message)
{
    for (auto& client : clients_) {
        if (!client->authenticated || client->dropped) continue;
        if (!client->channel.Queue(message)) {
            Drop(*client, "the bridge has stopped reading");
            continue;
        }
        Flush(*client);
    }
}

gboolean BridgeListener::OnIncoming(GSocket*, GIOCondition, gpointer self)
{
    static_cast<BridgeListener*>(self)->Accept();
    return G_SOURCE_CONTINUE;
}

void BridgeListener::Accept()
{
    GError* raw = nullptr;
    gobject_ptr<GSocket> socket(g_socket_accept(socket_.get(), nullptr, &raw));
    gerror_ptr failure(raw);
    if (!socket) {
        if (failure && !g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
            Log(std::string("accept failed: ") + failure->message);
        }
        return;
    }
    const size_t waiting = static_cast<size_t>(std::count_if(
        clients_.begin(), clients_.end(), [](const auto& c) { return !c->authenticated && !c->dropped; }));
    if (waiting >= kMaxUnauthenticated) {
        Log("refused a connection: too many are waiting to say hello");
        return;  // closed as `socket` goes
    }
    g_socket_set_blocking(socket.get(), FALSE);
    // Lines are small and each one is wanted now.
    g_socket_set_option(socket.get(), IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
    auto client = std::make_unique<Client>();
    client->owner = this;
    client->socket = std::move(socket);
    client->readable = WatchSocket(client->socket.get(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                   &BridgeListener::OnReadable, client.get());
    client->hello_deadline = AddTimeout(kHelloTimeoutMs, &BridgeListener::OnHelloLate, client.get());
    clients_.push_back(std::move(client));
}

gboolean BridgeListener::OnReadable(GSocket*, GIOCondition, gpointer data)
{
    auto* client = static_cast<Client*>(data);
    if (!client->dropped) client->owner->ReadFrom(*client);
    return client->dropped ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

gboolean BridgeListener::OnWritable(GSocket*, GIOCondition, gpointer data)
{
    auto* client = static_cast<Client*>(data);
    client->owner->Flush(*client);
    return !client->dropped && client->channel.HasUnsent() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean BridgeListener::OnHelloLate(gpointer data)
{
    auto* client = static_cast<Client*>(data);
    client->owner->Drop(*client, "no hello within five seconds");
    return G_SOURCE_REMOVE;
}

gboolean BridgeListener::OnReap(gpointer data)
{
    auto* self = static_cast<BridgeListener*>(data);
    std::erase_if(self->clients_, [](const auto& c) { return c->dropped; });
    self->reap_ = {};
    return G_SOURCE_REMOVE;
}

void BridgeListener::ReadFrom(Client& client)
{
    char buffer[4096];
    GError* raw = nullptr;
    const gssize got = g_socket_receive(client.socket.get(), buffer, sizeof buffer, nullptr, &raw);
    gerror_ptr failure(raw);
    if (got < 0 && failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) return;
    if (got <= 0) {
        Drop(client, got == 0 ? "the bridge closed the connection" : std::string("read failed: ") + failure->message);
        return;
    }
    client.channel.Received(std::string_view(buffer, static_cast<size_t>(got)));
    while (!client.dropped) {
        const auto line = client.channel.NextLine();
        if (!line) return;
        if (!line->oversized) {
            HandleLine(client, line->text);
        } else if (!client.authenticated) {
            Drop(client, "an oversized line before hello");
        } else {
            Log("skipped a line longer than " + std::to_string(mpris_bridge::kMaxLine) + " bytes");
        }
    }
}

void BridgeListener::HandleLine(Client& client, const std::string& line)
{
    const mpris_bridge::Parsed parsed = mpris_bridge::ParseLine(line);
    if (!client.authenticated) {
        const auto* hello = parsed.message ? std::get_if<mpris_bridge::Hello>(&*parsed.message) : nullptr;
        if (!hello || !mpris_bridge::TokensEqual(hello->token, token_)) {
            Drop(client, hello ? "wrong token" : "the first line was not hello");
            return;
        }
        // The old bridge is gone or about to be: the new one takes over.
        for (auto& other : clients_) {
            if (other->authenticated && !other->dropped) Drop(*other, "a new bridge replaces it");
        }
        client.authenticated = true;
        client.hello_deadline.reset();
        Log("bridge connected");
        if (callbacks_.connected) callbacks_.connected();
        return;
    }
    if (!parsed.message) {
        Log("skipped a line from the bridge: " + parsed.error);
        return;
    }
    if (const auto* command = std::get_if<mpris_bridge::CommandLine>(&*parsed.message)) {
        if (callbacks_.command) callbacks_.command(command->command);
        return;
    }
    Log("skipped a message the bridge does not send");
}

void BridgeListener::Flush(Client& client)
{
    while (!client.dropped && client.channel.HasUnsent()) {
        const std::string_view unsent = client.channel.Unsent();
        GError* raw = nullptr;
        const gssize sent = g_socket_send(client.socket.get(), unsent.data(), unsent.size(), nullptr, &raw);
        gerror_ptr failure(raw);
        if (sent < 0 && failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) break;
        if (sent <= 0) {
            Drop(client, std::string("write failed: ") + (failure ? failure->message : "nothing written"));
            return;
        }
        client.channel.Sent(static_cast<size_t>(sent));
    }
    if (client.dropped) return;
    if (client.channel.HasUnsent() && !client.writable) {
        client.writable = WatchSocket(client.socket.get(), G_IO_OUT, &BridgeListener::OnWritable, &client);
    } else if (!client.channel.HasUnsent()) {
        client.writable.reset();
    }
}

// The client stops counting at once; its socket and sources go when the
// main loop is next idle, after whatever callback is under way.
void BridgeListener::Drop(Client& client, const std::string& why)
{
    if (client.dropped) return;
    Log("closed a connection: " + why);
    client.dropped = true;
    g_socket_shutdown(client.socket.get(), TRUE, TRUE, nullptr);
    if (!reap_) reap_ = AddIdle(&BridgeListener::OnReap, this);
}

}  // namespace mpris_helper
