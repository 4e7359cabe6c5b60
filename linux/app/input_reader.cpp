#include "input_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace nightjar::native {

InputReader::InputReader(int fd, Mode mode, Take take, std::function<void()> at_end)
    : fd_(fd), mode_(mode), take_(std::move(take)), at_end_(std::move(at_end))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    stop_read_ = tty::UniqueFd(fds[0]);
    stop_write_ = tty::UniqueFd(fds[1]);
    thread_ = std::thread([this] { Read(); });
}

InputReader::~InputReader()
{
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_write_.get(), &stop, 1);
    thread_.join();
}

void InputReader::Read()
{
    char buffer[512];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) return;
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        Deliver(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    if (at_end_) at_end_();
}

void InputReader::Deliver(std::string_view data)
{
    if (mode_ == Mode::Chunks) {
        take_(data);
        return;
    }
    pending_.append(data);
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1))
        take_(std::string_view(pending_).substr(0, end));
}

}  // namespace nightjar::native
