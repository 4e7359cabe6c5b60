#include "glib_ptr.h"

namespace mpris_helper {
namespace {

unique_source Attach(GSource* source, GSourceFunc callback, gpointer data)
{
    g_source_set_callback(source, callback, data, nullptr);
    g_source_attach(source, g_main_context_get_thread_default());
    return unique_source(source);
}

}  // namespace

unique_source AddTimeout(guint interval_ms, GSourceFunc callback, gpointer data)
{
    return Attach(g_timeout_source_new(interval_ms), callback, data);
}

unique_source AddIdle(GSourceFunc callback, gpointer data) { return Attach(g_idle_source_new(), callback, data); }

unique_source WatchSocket(GSocket* socket, GIOCondition condition, GSocketSourceFunc callback, gpointer data)
{
    return Attach(g_socket_create_source(socket, condition, nullptr),
                  reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(callback)), data);
}

}  // namespace mpris_helper
