// The program's log: one line per event on standard error (the journal when
// it runs as a service). Events show with --verbose; errors always.
#pragma once

#include <functional>
#include <string_view>

namespace nightjar::native {

class Log {
public:
    using Sink = std::function<void(std::string_view)>;
    // Lines go to standard error, or to `sink` (tests).
    explicit Log(bool verbose, Sink sink = {}) : verbose_(verbose), sink_(std::move(sink)) {}
    void Event(std::string_view line) const;
    void Error(std::string_view line) const;
    bool verbose() const noexcept { return verbose_; }

private:
    void Write(std::string_view line) const;

    bool verbose_;
    Sink sink_;
};

}  // namespace nightjar::native
