#include "lines_watch.h"

#include <nj/unique.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace linkcat {
namespace {

const char* WireWords(Wire wire)
{
    switch (wire) {
    case Wire::Released:
        return "released";
    case Wire::PulledByOtherEnd:
        return "pulled by the other end";
    case Wire::PulledByUs:
        return "pulled by us";
    case Wire::NotFollowing:
        return "pulled by us but reads released (the adapter does not drive it, or the wire is broken)";
    }
    return "unknown";
}

// Keys from the console, read without waiting for Enter, or from a file or
// a pipe. A reader thread waits for them so the watch never does (a console
// may only look at its terminal while a read waits); it is left to end with
// the process, as a blocked read cannot be called off everywhere, and
// shares only what it owns a part of.
class Keys {
public:
    Keys() : input_(::GetStdHandle(STD_INPUT_HANDLE)), queue_(std::make_shared<Queue>())
    {
        if (input_ == nullptr || input_ == INVALID_HANDLE_VALUE) return;  // no keys at all: watch only
        if (::GetConsoleMode(input_, &saved_mode_)) {
            console_ = true;
            // No line editing, no echo, and Ctrl+C arrives as a key:
            // quitting that way still releases both wires.
            ::SetConsoleMode(input_, 0);
            std::thread(ReadConsoleKeys, input_, queue_).detach();
        } else {
            std::thread(ReadStreamKeys, input_, queue_).detach();
        }
    }
    ~Keys()
    {
        if (console_) ::SetConsoleMode(input_, saved_mode_);
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;

    // The next key pressed, if there is one (0 if not); never waits.
    wchar_t Next()
    {
        const std::lock_guard lock(queue_->mutex);
        if (queue_->keys.empty()) return 0;
        const wchar_t key = queue_->keys.front();
        queue_->keys.pop_front();
        return key;
    }

private:
    struct Queue {
        std::mutex mutex;
        std::deque<wchar_t> keys;
    };

    static void ReadConsoleKeys(HANDLE input, std::shared_ptr<Queue> queue)
    {
        INPUT_RECORD record;
        DWORD read = 0;
        while (::ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
            const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
            if (record.EventType != KEY_EVENT || !key.bKeyDown || key.uChar.UnicodeChar == 0) continue;
            const std::lock_guard lock(queue->mutex);
            queue->keys.push_back(key.uChar.UnicodeChar);
        }
    }

    static void ReadStreamKeys(HANDLE input, std::shared_ptr<Queue> queue)
    {
        char buffer[64];
        DWORD read = 0;
        while (::ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            const std::lock_guard lock(queue->mutex);
            for (DWORD i = 0; i < read; ++i) queue->keys.push_back(static_cast<unsigned char>(buffer[i]));
        }
    }

    HANDLE input_;
    bool console_ = false;
    DWORD saved_mode_ = 0;
    std::shared_ptr<Queue> queue_;
};

// What we do to the wires; the inputs tell the rest.
struct Pulls {
    bool a = false;
    bool b = false;
};

// Applies one key; false when it asks to quit.
bool ApplyKey(wchar_t key, Pulls& pulls, nightjar::link::Lines& lines)
{
    switch (key) {
    case L'a':
    case L'A':
        pulls.a = !pulls.a;
        lines.PutWireAOutput(pulls.a ? 0 : 2);
        return true;
    case L'b':
    case L'B':
        pulls.b = !pulls.b;
        lines.PutWireBOutput(!pulls.b);
        return true;
    case L'q':
    case L'Q':
    case 0x1b:  // Esc
    case 0x03:  // Ctrl+C
        return false;
    default:
        return true;
    }
}

}  // namespace

Wire ReadWire(bool pulled_by_us, bool input_released)
{
    if (pulled_by_us) return input_released ? Wire::NotFollowing : Wire::PulledByUs;
    return input_released ? Wire::Released : Wire::PulledByOtherEnd;
}

std::string Describe(Wire a, Wire b)
{
    if (a == Wire::Released && b == Wire::Released) return "both released: idle";
    return std::string("wire A ") + WireWords(a) + ", wire B " + WireWords(b);
}

int WatchLines(nightjar::link::Lines& lines, std::optional<ULONGLONG> timeout_ms)
{
    std::fputs("linkcat: watching both wires. a: pull or release wire A, b: the same for wire B, q: quit\n",
               stderr);
    const ULONGLONG deadline = timeout_ms ? ::GetTickCount64() + *timeout_ms : 0;
    Keys keys;
    Pulls pulls;
    std::string shown;
    for (;;) {
        while (const wchar_t key = keys.Next()) {
            if (!ApplyKey(key, pulls, lines)) return 0;
        }
        const std::string now =
            Describe(ReadWire(pulls.a, lines.WireAInput()), ReadWire(pulls.b, lines.WireBInput()));
        if (now != shown) {
            std::printf("%s\n", now.c_str());
            std::fflush(stdout);
            shown = now;
        }
        // A time limit is how a script ends a watch that takes no keys.
        if (deadline != 0 && ::GetTickCount64() > deadline) return 0;
        ::Sleep(1);
    }
}

}  // namespace linkcat
