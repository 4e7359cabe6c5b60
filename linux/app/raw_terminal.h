// The terminal in single-key mode (no line editing, no echo) for as long as
// a RawTerminal lives; nothing where the descriptor is not a terminal.
#pragma once

#include <termios.h>
#include <unistd.h>

namespace nightjar::native {

class RawTerminal {
public:
    explicit RawTerminal(int fd) : fd_(fd)
    {
        if (!::isatty(fd) || ::tcgetattr(fd, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    ~RawTerminal()
    {
        if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    bool active() const noexcept { return active_; }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace nightjar::native
