#include "metadata_reader.h"

#include <algorithm>
#include <array>
#include <optional>

#include "glib_ptr.h"
#include "text_nfc.h"

namespace mpris_helper {
namespace {

gvariant_ptr Lookup(GVariant* dictionary, const char* key)
{
    GVariant* value = g_variant_lookup_value(dictionary, key, nullptr);
    // Some players wrap values once more.
    while (value && g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        g_variant_unref(value);
        value = inner;
    }
    return gvariant_ptr(value);
}

std::optional<int64_t> AsInteger(GVariant* value)
{
    if (!value) return std::nullopt;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT64)) return g_variant_get_int64(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT64)) {
        return static_cast<int64_t>(std::min<guint64>(g_variant_get_uint64(value), INT64_MAX));
    }
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) return g_variant_get_int32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
        const double d = g_variant_get_double(value);
        if (d > -9.0e18 && d < 9.0e18) return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::string AsString(GVariant* value)
{
    if (value && (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                  g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))) {
        return ComposedText(g_variant_get_string(value, nullptr));
    }
    return {};
}

std::vector<std::string> AsStrings(GVariant* value)
{
    std::vector<std::string> strings;
    if (!value) return strings;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** items = g_variant_get_strv(value, &count);
        for (gsize i = 0; i < count; ++i) strings.push_back(ComposedText(items[i]));
        g_free(items);
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        strings.push_back(ComposedText(g_variant_get_string(value, nullptr)));
    }
    return strings;
}

int32_t Clamp32(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, 0, INT32_MAX)); }

// The first of the keys that holds a number.
std::optional<int64_t> FirstInteger(GVariant* metadata, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        if (auto value = AsInteger(Lookup(metadata, key).get())) return value;
    }
    return std::nullopt;
}

}  // namespace

TrackInfo ReadTrackInfo(GVariant* metadata)
{
    TrackInfo info;
    if (!metadata || !g_variant_is_of_type(metadata, G_VARIANT_TYPE_VARDICT)) return info;
    info.metadata.artists = AsStrings(Lookup(metadata, "xesam:artist").get());
    info.metadata.title = AsString(Lookup(metadata, "xesam:title").get());
    info.metadata.url = AsString(Lookup(metadata, "xesam:url").get());
    // The file name stands in for a title with nothing to show, as in
    // ComposeWindowTitle; it is percent-encoded in the URL, so it is
    // composed only once decoded.
    if (mpris_bridge::ToAnsiRepertoire(info.metadata.title).empty()) {
        info.metadata.title = ComposedText(mpris_bridge::FileNameWithoutExtension(info.metadata.url));
    }
    info.metadata.track_number = AsInteger(Lookup(metadata, "xesam:trackNumber").get());
    info.track_id = AsString(Lookup(metadata, "mpris:trackid").get());
    if (auto length_us = AsInteger(Lookup(metadata, "mpris:length").get()); length_us && *length_us > 0) {
        info.length_s = Clamp32((*length_us + 500'000) / 1'000'000);
    }
    if (auto hz = FirstInteger(metadata, {"xesam:audioSampleRate", "xesam:sampleRate", "audio:sampleRate"})) {
        info.freq_hz = Clamp32(*hz);
    }
    if (auto rate = FirstInteger(metadata, {"xesam:audioBitrate", "xesam:bitrate", "audio:bitrate"})) {
        // Players give bits per second or kilobits; no audio runs at 10 Mbit/s.
        info.kbps = Clamp32(*rate >= 10'000 ? (*rate + 500) / 1000 : *rate);
    }
    return info;
}

}  // namespace mpris_helper
