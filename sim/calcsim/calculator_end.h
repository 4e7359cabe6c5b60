// The calculator's side of the conversation, without the wires: which key
// sends which command byte, and how the bytes of an announcement (artist, 0,
// title, 0, end byte 2) come together into a track to show.
#pragma once

#include <cstddef>
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

// The event lines the simulator prints, without the "calc: " prefix:
// "sent 52 (play)", "sent 7" for a byte with no meaning.
std::string SentLine(std::uint8_t byte);
// "now playing: ARTIST - TITLE" from text already in the log's encoding;
// "now playing: nothing" for an emptied track.
std::string NowPlayingLine(std::string_view artist, std::string_view title);

// How the link's yield spends one call. Every look at the message queue is
// a round trip to the window server, many times the cost of a poll of the
// wires, so the queue is pumped at most once per millisecond; the other
// yields only offer the processor, or sleep once a start wait has gone on so
// long that the far end is plainly not about to send, which stretches the
// start wait's poll budget from milliseconds to seconds.
enum class YieldAction { Pump, Offer, Sleep };

inline constexpr std::int32_t kPatientPolls = 5000;

YieldAction ChooseYield(std::uint64_t now_ms, std::uint64_t last_pump_ms, std::int32_t start_wait_polls);

// Key presses wait here until the wires are idle; a full queue drops the
// press rather than growing without bound when the far end is gone.
class KeyQueue {
public:
    static constexpr std::size_t kCapacity = 64;
    bool Push(std::uint8_t byte);
    std::optional<std::uint8_t> Pop();
    bool Empty() const noexcept { return size_ == 0; }

private:
    std::uint8_t bytes_[kCapacity] = {};
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace nightjar::calc
