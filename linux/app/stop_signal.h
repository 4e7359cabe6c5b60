// SIGINT, SIGTERM and SIGHUP, taken by a thread of their own (sigwait), so
// the handling runs in ordinary code: the stop callback may lock and wake
// whatever the program waits in. Construct it before any other thread, so
// that every thread inherits the blocked signals.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace nightjar::native {

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    bool Requested() const noexcept { return requested_.load(); }

    // While a Hook lives, its callback runs (on the signal thread) when a
    // stop signal arrives, or at once if one already has.
    class [[nodiscard]] Hook {
    public:
        explicit Hook(StopSignal& owner) : owner_(owner) {}
        ~Hook() { owner_.Set({}); }
        Hook(const Hook&) = delete;
        Hook& operator=(const Hook&) = delete;

    private:
        StopSignal& owner_;
    };
    Hook OnStop(std::function<void()> callback);

private:
    void Set(std::function<void()> callback);
    void Wait();

    sigset_t signals_{};
    std::atomic<bool> requested_{false};
    std::atomic<bool> closing_{false};
    std::mutex mutex_;
    std::function<void()> callback_;
    std::thread thread_;
};

}  // namespace nightjar::native
