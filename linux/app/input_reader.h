// Reads a descriptor (standard input) on a thread of its own and hands what
// arrives to a callback, one line at a time or as it comes; stops and joins
// when destroyed, even while a read would block.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "unique_fd.h"

namespace nightjar::native {

class InputReader {
public:
    enum class Mode { Lines, Chunks };
    using Take = std::function<void(std::string_view)>;

    // `take` gets each line (without its newline) or each chunk; `at_end`
    // runs once the input ends. Both on the reader's thread.
    InputReader(int fd, Mode mode, Take take, std::function<void()> at_end = {});
    ~InputReader();
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

private:
    void Read();
    void Deliver(std::string_view data);

    int fd_;
    Mode mode_;
    Take take_;
    std::function<void()> at_end_;
    std::string pending_;
    tty::UniqueFd stop_read_;
    tty::UniqueFd stop_write_;
    std::thread thread_;
};

}  // namespace nightjar::native
