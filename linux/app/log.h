// The program's log: one line per event on standard error (the journal when
// it runs as a service). Events show with --verbose; errors always.
#pragma once

#include <string_view>

namespace nightjar::native {

class Log {
public:
    explicit Log(bool verbose) : verbose_(verbose) {}
    void Event(std::string_view line) const;
    void Error(std::string_view line) const;
    bool verbose() const noexcept { return verbose_; }

private:
    bool verbose_;
};

}  // namespace nightjar::native
