#include "log.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <unistd.h>

namespace nightjar::native {
namespace {

void WriteLine(std::string_view line)
{
    static std::mutex mutex;
    const std::string text = "nightjar: " + std::string(line) + "\n";
    const std::lock_guard lock(mutex);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // closed: the log is best effort
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void Log::Write(std::string_view line) const
{
    if (sink_) {
        sink_(line);
    } else {
        WriteLine(line);
    }
}

void Log::Event(std::string_view line) const
{
    if (verbose_) Write(line);
}

void Log::Error(std::string_view line) const { Write(line); }

}  // namespace nightjar::native
