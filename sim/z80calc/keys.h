// The keypad as an assembly program sees it through _GetCSC, and what
// presses its keys: a script (--keys, --key-script, or standard input when
// it is not a terminal) or the terminal, one key at a time.
//
// A script is steps separated by newlines or ';': a key's name (left right
// up down enter clear graph trace zoom window y= 2nd mode del) or its scan
// code (0x31), or `wait TEXT`, which holds the steps after it until TEXT is
// on the screen (the rows run together and runs of spaces count as one, so
// a line wrapped at a space or inside a word reads whole), or
// `collide KEY`: KEY, and the program's first pull of a line after its scan
// held back until the PC pulls one (see Collision in ports.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace z80calc {

// The scan code of a key's name or of "0xNN"; nothing for anything else.
std::optional<std::uint8_t> ScanCodeOf(std::string_view name);
std::string KeyName(std::uint8_t scan_code);
// The key a terminal's bytes stand for (arrows, Enter, and letters: see
// kTerminalHelp); nothing for bytes that are no key.
std::optional<std::uint8_t> TerminalKey(std::string_view bytes);
extern const char* const kTerminalHelp;

// What the OS's interrupt handler would have seen on the keypad: keys wait
// to be pressed; the handler latches one at a tick, _GetCSC takes it.
struct Key {
    std::uint8_t scan_code;
    bool collide = false;
};

class Keypad {
public:
    void Press(Key key) { waiting_.push_back(key); }
    // At a timer interrupt: the next key, if the last one was taken.
    std::optional<Key> Scan();
    std::uint8_t GetCsc() { return std::exchange(latched_, 0); }

private:
    std::deque<Key> waiting_;
    std::uint8_t latched_ = 0;
};

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Steps from any thread; run on the emulator's, at each tick.
class KeyScript {
public:
    explicit KeyScript(std::chrono::seconds wait_limit) : wait_limit_(wait_limit) {}
    // Throws ScriptError for a step it does not know.
    void Add(std::string_view steps);
    void Finish();
    // Presses what the steps allow now. Throws ScriptError when a wait
    // outlives its limit.
    void Advance(Keypad& keypad, const std::string& screen_text);
    bool Done();

private:
    struct Step {
        std::optional<Key> key;
        std::string wait_for;
    };
    static Step Parse(std::string_view step);

    std::mutex mutex_;
    std::deque<Step> steps_;
    bool finished_ = false;
    std::chrono::seconds wait_limit_;
    std::optional<std::chrono::steady_clock::time_point> waiting_since_;
};

}  // namespace z80calc
