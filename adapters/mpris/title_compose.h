// The window title the bridge shows for a track: "N. Artist - Title - Plavox",
// made so that Plavox's title parsing reads back the artist and title a
// desktop tool shows for the same metadata, as far as the ANSI code page
// (Windows-1252) and the 254 characters Plavox reads allow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utf8.h"

namespace mpris_bridge {

// What a player says about its track, strings in UTF-8.
struct TrackMetadata {
    std::vector<std::string> artists;    // xesam:artist
    std::string title;                   // xesam:title
    std::string url;                     // xesam:url
    std::optional<int64_t> track_number; // xesam:trackNumber
    std::optional<size_t> list_position; // 1-based place in the player's track list
};

struct ComposedTitle {
    std::string window_title;  // UTF-8, every character in Windows-1252
    std::string artist;        // what Plavox will read back, UTF-8
    std::string title;
    int64_t number = 1;
};

inline constexpr size_t kTitleLimit = 254;  // characters Plavox reads of a window title

ComposedTitle ComposeWindowTitle(const TrackMetadata& track);

// The artist or title text as it goes into the window title: control
// characters become blanks, characters outside Windows-1252 their closest
// equivalent there (or '?'), and the whole is trimmed of blanks.
std::u32string ToAnsiRepertoire(std::string_view utf8);

// The last path segment of a URL, percent-decoded, without its extension;
// "" for a URL without one.
std::string FileNameWithoutExtension(std::string_view url);

}  // namespace mpris_bridge
