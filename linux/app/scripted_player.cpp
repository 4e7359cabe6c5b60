#include "scripted_player.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace nightjar::native {

ScriptedPlayer::ScriptedPlayer(int input_fd, std::FILE* output, const Log& log)
    : input_fd_(input_fd), output_(output), log_(log)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    stop_read_ = tty::UniqueFd(fds[0]);
    stop_write_ = tty::UniqueFd(fds[1]);
}

ScriptedPlayer::~ScriptedPlayer()
{
    if (reader_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_write_.get(), &stop, 1);
        reader_.join();
    }
}

void ScriptedPlayer::Start(PlayerEvents& events)
{
    reader_ = std::thread([this, &events] { ReadLines(events); });
}

void ScriptedPlayer::Carry(std::uint8_t byte, const app::Command& command)
{
    const std::lock_guard lock(output_mutex_);
    std::fprintf(output_, "call %u %08X\n", byte, static_cast<unsigned>(command.dispid));
    std::fflush(output_);
}

void ScriptedPlayer::ReadLines(PlayerEvents& events)
{
    std::string pending;
    char buffer[512];
    for (;;) {
        pollfd fds[2] = {{input_fd_, POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const ssize_t n = ::read(input_fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // end of the script: the player stays as it is
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            TakeLine(pending.substr(0, end), events);
    }
}

void ScriptedPlayer::TakeLine(const std::string& line, PlayerEvents& events)
{
    if (line == "gone") {
        events.PlayerGone();
    } else if (line.rfind("track ", 0) == 0) {
        const std::string rest = line.substr(6);
        const std::size_t tab = rest.find('\t');
        events.TrackChanged(tab == std::string::npos ? Track{"", rest} : Track{rest.substr(0, tab), rest.substr(tab + 1)});
    } else if (!line.empty()) {
        log_.Error("scripted player: not understood: " + line);
    }
}

}  // namespace nightjar::native
