// The one way the helper talks to a player: through its proxy of the
// player's Player interface (created asynchronously, its property cache
// and signals kept by GDBus), with every call bounded in time. Nothing here
// waits: answers come to callbacks, a call that gets none within the bound
// is logged and reported as failed.
#pragma once

#include <functional>
#include <string>

#include "glib_ptr.h"

namespace mpris_helper {

inline constexpr char kBusNamePrefix[] = "org.mpris.MediaPlayer2.";
inline constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
inline constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
inline constexpr char kTrackListInterface[] = "org.mpris.MediaPlayer2.TrackList";

// No call to a player is given longer than this.
inline constexpr int kCallBoundMs = 2000;

// The answer (nullptr when the call failed or timed out, which is logged
// with `what`). Not called at all once `cancellable` is cancelled.
using Answer = std::function<void(GVariant* reply)>;

// A method of the Player interface.
void CallPlayer(GDBusProxy* proxy, const char* method, GVariant* parameters, std::string what,
                GCancellable* cancellable, Answer done = {});
// A method of another interface of the same object.
void CallObject(GDBusProxy* proxy, const char* interface, const char* method, GVariant* parameters,
                std::string what, GCancellable* cancellable, Answer done = {});

// Properties.Get: `done` receives the value itself.
void ReadProperty(GDBusProxy* proxy, const char* interface, const char* name, GCancellable* cancellable,
                  Answer done);
// Properties.Set of a Player property.
void WriteProperty(GDBusProxy* proxy, const char* name, GVariant* value, std::string what,
                   GCancellable* cancellable);

// From the proxy's cache: the value when it is there with this type.
gvariant_ptr CachedProperty(GDBusProxy* proxy, const char* name, const GVariantType* type);
bool CachedFlag(GDBusProxy* proxy, const char* name);

}  // namespace mpris_helper
