#include "player_calls.h"

#include <memory>

#include "log.h"

namespace mpris_helper {
namespace {

struct PendingCall {
    std::string what;
    Answer done;
};

void OnCallDone(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
    GError* raw = nullptr;
    gvariant_ptr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw));
    gerror_ptr failure(raw);
    // Cancelled: whoever asked is gone.
    if (failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    if (failure && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
        Log(call->what + ": no answer within " + std::to_string(kCallBoundMs / 1000) + " s");
    } else if (failure) {
        Log(call->what + " failed: " + failure->message);
    }
    if (call->done) call->done(reply.get());
}

void Call(GDBusProxy* proxy, const char* interface, const char* method, GVariant* parameters,
          const GVariantType* reply_type, std::string what, GCancellable* cancellable, Answer done)
{
    // Always to the name's current owner: a name that changed hands gets
    // nothing meant for the old one.
    const gchar_ptr owner(g_dbus_proxy_get_name_owner(proxy));
    const char* to = owner ? owner.get() : g_dbus_proxy_get_name(proxy);
    g_dbus_connection_call(g_dbus_proxy_get_connection(proxy), to, kObjectPath, interface, method, parameters,
                           reply_type, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallBoundMs, cancellable, &OnCallDone,
                           new PendingCall{std::move(what), std::move(done)});
}

}  // namespace

void CallPlayer(GDBusProxy* proxy, const char* method, GVariant* parameters, std::string what,
                GCancellable* cancellable, Answer done)
{
    Call(proxy, kPlayerInterface, method, parameters, nullptr, std::move(what), cancellable, std::move(done));
}

void CallObject(GDBusProxy* proxy, const char* interface, const char* method, GVariant* parameters,
                std::string what, GCancellable* cancellable, Answer done)
{
    Call(proxy, interface, method, parameters, nullptr, std::move(what), cancellable, std::move(done));
}

void ReadProperty(GDBusProxy* proxy, const char* interface, const char* name, GCancellable* cancellable,
                  Answer done)
{
    Call(proxy, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", interface, name),
         G_VARIANT_TYPE("(v)"), std::string("reading ") + name, cancellable, [done = std::move(done)](GVariant* reply) {
             if (!reply) {
                 done(nullptr);
                 return;
             }
             gvariant_ptr boxed(g_variant_get_child_value(reply, 0));
             gvariant_ptr value(g_variant_get_variant(boxed.get()));
             done(value.get());
         });
}

void WriteProperty(GDBusProxy* proxy, const char* name, GVariant* value, std::string what,
                   GCancellable* cancellable)
{
    Call(proxy, "org.freedesktop.DBus.Properties", "Set", g_variant_new("(ssv)", kPlayerInterface, name, value),
         nullptr, std::move(what), cancellable, {});
}

gvariant_ptr CachedProperty(GDBusProxy* proxy, const char* name, const GVariantType* type)
{
    gvariant_ptr value(g_dbus_proxy_get_cached_property(proxy, name));
    if (!value || !g_variant_is_of_type(value.get(), type)) return nullptr;
    return value;
}

bool CachedFlag(GDBusProxy* proxy, const char* name)
{
    const gvariant_ptr value = CachedProperty(proxy, name, G_VARIANT_TYPE_BOOLEAN);
    return value && g_variant_get_boolean(value.get());
}

}  // namespace mpris_helper
