#include "keys.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace z80calc {
namespace {

struct NamedKey {
    std::string_view name;
    std::uint8_t scan_code;
    std::string_view terminal;  // the terminal's bytes for it
};

constexpr std::array kNamedKeys{
    NamedKey{"down", 0x01, "\x1b[B"},  NamedKey{"left", 0x02, "\x1b[D"},   NamedKey{"right", 0x03, "\x1b[C"},
    NamedKey{"up", 0x04, "\x1b[A"},    NamedKey{"enter", 0x09, "\n"},      NamedKey{"clear", 0x0F, "c"},
    NamedKey{"graph", 0x31, "g"},      NamedKey{"trace", 0x32, "t"},       NamedKey{"zoom", 0x33, "z"},
    NamedKey{"window", 0x34, "w"},     NamedKey{"y=", 0x35, "y"},          NamedKey{"2nd", 0x36, "2"},
    NamedKey{"mode", 0x37, "m"},       NamedKey{"del", 0x38, "\x7f"},
};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Runs of spaces as one: a line the program wraps at a space reads whole.
std::string OneSpace(std::string_view text)
{
    std::string out;
    for (const char c : text)
        if (c != ' ' || out.empty() || out.back() != ' ') out += c;
    return out;
}

}  // namespace

const char* const kTerminalHelp =
    "keys: arrows, Enter, g=GRAPH t=TRACE z=ZOOM w=WINDOW y=Y= 2=2nd m=MODE Backspace=DEL, c=CLEAR";

std::optional<std::uint8_t> ScanCodeOf(std::string_view name)
{
    for (const auto& key : kNamedKeys)
        if (key.name == name) return key.scan_code;
    if (name.size() == 4 && name.substr(0, 2) == "0x") {
        try {
            std::size_t used = 0;
            const int code = std::stoi(std::string(name.substr(2)), &used, 16);
            if (used == 2 && code > 0) return static_cast<std::uint8_t>(code);
        } catch (const std::logic_error&) {
        }
    }
    return std::nullopt;
}

std::string KeyName(std::uint8_t scan_code)
{
    for (const auto& key : kNamedKeys)
        if (key.scan_code == scan_code) return std::string(key.name);
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", scan_code);
    return text;
}

std::optional<std::uint8_t> TerminalKey(std::string_view bytes)
{
    if (bytes == "\r") bytes = "\n";
    if (bytes == "\b") bytes = "\x7f";
    for (const auto& key : kNamedKeys)
        if (key.terminal == bytes) return key.scan_code;
    return std::nullopt;
}

std::optional<Key> Keypad::Scan()
{
    if (latched_ != 0 || waiting_.empty()) return std::nullopt;
    const Key key = waiting_.front();
    waiting_.pop_front();
    latched_ = key.scan_code;
    return key;
}

KeyScript::Step KeyScript::Parse(std::string_view step)
{
    if (step.substr(0, 5) == "wait ") {
        const auto text = Trim(step.substr(5));
        if (!text.empty()) return Step{std::nullopt, OneSpace(text)};
    } else if (step.substr(0, 8) == "collide ") {
        if (const auto code = ScanCodeOf(Trim(step.substr(8)))) return Step{Key{*code, true}, {}};
    } else if (const auto code = ScanCodeOf(step)) {
        return Step{Key{*code}, {}};
    }
    throw ScriptError("not a key or a wait: \"" + std::string(step) + "\"");
}

void KeyScript::Add(std::string_view steps)
{
    std::deque<Step> parsed;
    while (!steps.empty()) {
        const auto end = steps.find_first_of(";\n");
        const auto step = Trim(steps.substr(0, end));
        if (!step.empty()) parsed.push_back(Parse(step));
        steps.remove_prefix(end == std::string_view::npos ? steps.size() : end + 1);
    }
    const std::lock_guard lock(mutex_);
    steps_.insert(steps_.end(), parsed.begin(), parsed.end());
}

void KeyScript::Finish()
{
    const std::lock_guard lock(mutex_);
    finished_ = true;
}

bool KeyScript::Done()
{
    const std::lock_guard lock(mutex_);
    return finished_ && steps_.empty();
}

void KeyScript::Advance(Keypad& keypad, const std::string& screen_text)
{
    const std::lock_guard lock(mutex_);
    const std::string shown = OneSpace(screen_text);
    while (!steps_.empty()) {
        const Step& step = steps_.front();
        if (step.key) {
            keypad.Press(*step.key);
        } else if (shown.find(step.wait_for) == std::string::npos) {
            const auto now = std::chrono::steady_clock::now();
            if (!waiting_since_) waiting_since_ = now;
            if (now - *waiting_since_ > wait_limit_)
                throw ScriptError("\"" + step.wait_for + "\" did not show on the screen within " +
                                  std::to_string(wait_limit_.count()) + " s");
            return;
        }
        waiting_since_.reset();
        steps_.pop_front();
    }
}

}  // namespace z80calc
