// njcalc: a calculator's end of the link in a terminal, for trying nightjar
// without hardware: on one end of the virtual cable, keys send the command
// bytes and announcements show as text. Built on the platform-free
// calculator end (sim/calcsim/calculator_end.*) and our native link.
//
//   njcalc DEVICE
//
// Keys 1 to 8 send the keypad's commands (shown at the start), q quits.
// When standard input is not a terminal, each line is a byte (decimal or
// 0x..) or "q". Event lines go to standard output:
//   calc: sent 52 (play)
//   calc: now playing: ARTIST - TITLE
#include <unistd.h>

#include <cstdio>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "calculator_end.h"
#include "input_reader.h"
#include "raw_terminal.h"
#include "stop_signal.h"
#include "timed_link.h"
#include "windows_1252.h"

namespace {

using namespace nightjar;
using namespace nightjar::native;

// Key presses and the quit request, from the reader thread to the link's.
class Keys {
public:
    explicit Keys(tty::TtyLines& lines) : lines_(lines) {}
    void Press(std::uint8_t byte)
    {
        {
            const std::lock_guard lock(mutex_);
            if (!queue_.Push(byte)) std::printf("calc: too many keys waiting; %u dropped\n", byte);
        }
        lines_.Interrupt();
    }
    void Quit()
    {
        quit_ = true;
        lines_.Interrupt();
    }
    bool QuitRequested() const { return quit_; }
    std::optional<std::uint8_t> Next()
    {
        const std::lock_guard lock(mutex_);
        return queue_.Pop();
    }

private:
    tty::TtyLines& lines_;
    std::mutex mutex_;
    calc::KeyQueue queue_;
    std::atomic<bool> quit_{false};
};

void TakeKey(char key, Keys& keys)
{
    if (key == 'q') return keys.Quit();
    const int index = key - '1';
    if (index >= 0 && index < static_cast<int>(std::size(calc::kKeys))) keys.Press(calc::kKeys[index].byte);
}

void TakeLine(std::string_view line, Keys& keys)
{
    if (line == "q") return keys.Quit();
    if (const auto byte = calc::ParseByte(line)) {
        keys.Press(*byte);
    } else if (!line.empty()) {
        std::printf("calc: not a byte: %.*s\n", static_cast<int>(line.size()), line.data());
    }
}

void ShowKeypad()
{
    std::printf("calc: keys:");
    for (std::size_t i = 0; i < std::size(calc::kKeys); ++i)
        std::printf(" %zu=%.*s", i + 1, static_cast<int>(calc::kKeys[i].label.size()), calc::kKeys[i].label.data());
    std::printf(", q quits\n");
}

void SendKey(TimedLink& link, std::uint8_t byte)
{
    try {
        link.SendByte(byte);
        std::printf("calc: %s\n", calc::SentLine(byte).c_str());
    } catch (const HandshakeTimeout&) {
        std::printf("calc: no answer from the PC; %u not sent\n", byte);
    }
}

void ReceiveAnnouncementByte(TimedLink& link, calc::AnnouncementReader& reader)
{
    try {
        if (const auto shown = reader.Take(link.ReceiveByte()))
            std::printf("calc: %s\n",
                        calc::NowPlayingLine(Utf8OfWindows1252(shown->artist), Utf8OfWindows1252(shown->title)).c_str());
    } catch (const HandshakeTimeout&) {
        std::printf("calc: a byte from the PC broke off\n");
    }
}

int Run(const char* device)
{
    StopSignal stop;
    const auto lines = tty::TtyLines::Open(device);
    TimedLink link(*lines);
    Keys keys(*lines);
    const auto hook = stop.OnStop([&] { keys.Quit(); });
    const RawTerminal terminal(STDIN_FILENO);
    const InputReader input(
        STDIN_FILENO, terminal.active() ? InputReader::Mode::Chunks : InputReader::Mode::Lines,
        [&](std::string_view data) {
            if (!terminal.active()) return TakeLine(data, keys);
            for (const char key : data) TakeKey(key, keys);
        });
    ShowKeypad();
    std::fflush(stdout);
    calc::AnnouncementReader reader;
    while (!keys.QuitRequested()) {
        if (link.Look() == LinkState::SenderWaiting) {
            ReceiveAnnouncementByte(link, reader);
        } else if (const auto key = reader.InProgress() ? std::nullopt : keys.Next()) {
            SendKey(link, *key);
        } else {
            link.WaitForActivity(std::chrono::seconds(1));
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: njcalc DEVICE\n");
        return 2;
    }
    try {
        return Run(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "njcalc: %s\n", error.what());
        return 1;
    }
}
