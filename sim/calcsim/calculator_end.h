// The calculator's side of the conversation, without the wires: which key
// sends which command byte, and how the bytes of an announcement (artist, 0,
// title, 0, end byte 2) come together into a track to show.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nightjar::calc {

struct Key {
    std::uint8_t byte;
    std::string_view label;
};

// The keypad, in the order it is laid out.
inline constexpr Key kKeys[] = {
    {53, "|<< Prev"}, {52, "Play"},   {51, "Pause"},     {50, "Stop"},
    {49, "Next >>|"}, {2, "<< Back"}, {3, "Fwd >>"},     {54, "Show/Hide"},
};

// What a command byte asks of the PC, for logs; "" for a byte with no meaning.
std::string_view CommandName(std::uint8_t byte);

inline constexpr std::uint8_t kAnnouncementEnd = 2;

struct Announcement {
    std::string artist;  // single-byte characters as they came over the link
    std::string title;
};

// Collects announcement bytes. A byte that cannot belong to an announcement
// (an end byte before both strings are in) restarts the collection, so one
// garbled transfer never spoils the next.
class AnnouncementReader {
public:
    // Takes one received byte; returns the announcement it completes, if any.
    std::optional<Announcement> Take(std::uint8_t byte);

    // True while part of an announcement has arrived.
    bool InProgress() const noexcept { return fields_done_ > 0 || !current_.empty(); }

private:
    std::string current_;
    std::string artist_;
    std::string title_;
    int fields_done_ = 0;
};

// Parses a command byte typed by the user: decimal 0..255, or 0x.. hex.
std::optional<std::uint8_t> ParseByte(std::string_view text);

}  // namespace nightjar::calc
