// Owning handles for the GLib objects the helper keeps.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <utility>

namespace mpris_helper {

struct GObjectUnref {
    void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <typename T>
using gobject_ptr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};
using gerror_ptr = std::unique_ptr<GError, GErrorFree>;

struct GVariantUnref {
    void operator()(GVariant* value) const noexcept { g_variant_unref(value); }
};
using gvariant_ptr = std::unique_ptr<GVariant, GVariantUnref>;

struct GFree {
    void operator()(gpointer memory) const noexcept { g_free(memory); }
};
using gchar_ptr = std::unique_ptr<gchar, GFree>;

// An attached main-loop source, destroyed with its owner.
class unique_source {
public:
    unique_source() noexcept = default;
    explicit unique_source(GSource* source) noexcept : source_(source) {}
    unique_source(unique_source&& other) noexcept : source_(std::exchange(other.source_, nullptr)) {}
    unique_source& operator=(unique_source&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.source_, nullptr));
        return *this;
    }
    unique_source(const unique_source&) = delete;
    unique_source& operator=(const unique_source&) = delete;
    ~unique_source() { reset(); }

    void reset(GSource* source = nullptr) noexcept
    {
        if (source_) {
            g_source_destroy(source_);
            g_source_unref(source_);
        }
        source_ = source;
    }
    explicit operator bool() const noexcept { return source_ != nullptr; }

private:
    GSource* source_ = nullptr;
};

// A timeout on the thread's default main context; the callback returns
// whether to keep running.
unique_source AddTimeout(guint interval_ms, GSourceFunc callback, gpointer data);
// An idle callback on the thread's default main context.
unique_source AddIdle(GSourceFunc callback, gpointer data);
// A watch of a socket on the thread's default main context.
unique_source WatchSocket(GSocket* socket, GIOCondition condition, GSocketSourceFunc callback, gpointer data);

// A cancellable that is cancelled when its owner goes, so no answer that
// comes later reaches an object that is gone.
class owned_cancellable {
public:
    owned_cancellable() : cancellable_(g_cancellable_new()) {}
    owned_cancellable(const owned_cancellable&) = delete;
    owned_cancellable& operator=(const owned_cancellable&) = delete;
    ~owned_cancellable() { g_cancellable_cancel(cancellable_.get()); }
    GCancellable* get() const noexcept { return cancellable_.get(); }

private:
    gobject_ptr<GCancellable> cancellable_;
};

// A signal handler that is disconnected with its owner.
class unique_signal {
public:
    unique_signal() noexcept = default;
    unique_signal(gpointer instance, gulong id) noexcept : instance_(instance), id_(id) {}
    unique_signal(unique_signal&& other) noexcept
        : instance_(std::exchange(other.instance_, nullptr)), id_(std::exchange(other.id_, 0))
    {
    }
    unique_signal& operator=(unique_signal&& other) noexcept
    {
        if (this != &other) {
            reset();
            instance_ = std::exchange(other.instance_, nullptr);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    unique_signal(const unique_signal&) = delete;
    unique_signal& operator=(const unique_signal&) = delete;
    ~unique_signal() { reset(); }

    void reset() noexcept
    {
        if (instance_ && id_) g_signal_handler_disconnect(instance_, id_);
        instance_ = nullptr;
        id_ = 0;
    }

private:
    gpointer instance_ = nullptr;
    gulong id_ = 0;
};

}  // namespace mpris_helper
