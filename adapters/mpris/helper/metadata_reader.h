// What the bridge takes from an MPRIS metadata dictionary (a{sv}).
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

#include "title_compose.h"

namespace mpris_helper {

struct TrackInfo {
    mpris_bridge::TrackMetadata metadata;
    std::string track_id;  // mpris:trackid
    int32_t length_s = 0;  // mpris:length, rounded to whole seconds
    // Not part of MPRIS; some players add them.
    int32_t freq_hz = 0;
    int32_t kbps = 0;
};

// Every string is composed (NFC) before anything else sees it. Any value, even one that is not a dictionary or has fields of unexpected
// types, gives a record; what cannot be read stays empty.
TrackInfo ReadTrackInfo(GVariant* metadata);

}  // namespace mpris_helper
