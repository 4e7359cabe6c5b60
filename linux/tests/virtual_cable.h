// A virtual cable (sim/vcable) for the tests of this process: started once,
// since the preload library reads NJ_CABLE_STATE once. The process must run
// with the library preloaded (see tests/CMakeLists.txt).
#pragma once

#include <string>

#include "cable_state.h"

namespace nightjar::testing {

class VirtualCable {
public:
    // The one cable of this process.
    static VirtualCable& Get();

    const std::string& EndPath(int end) const { return ends_[end]; }
    const std::string& StatePath() const { return state_; }
    // Runs njcable --unplug / --plug on an end.
    void Unplug(int end) const;
    void Plug(int end) const;
    // Number of TIOCMIWAIT calls blocked on this cable right now.
    unsigned Waiters() const;
    // Returns once `count` TIOCMIWAIT calls are blocked.
    void AwaitWaiters(unsigned count) const;

    ~VirtualCable();

private:
    VirtualCable();
    void RunNjcable(const char* what, int end) const;

    std::string dir_;
    std::string state_;
    std::string ends_[2];
    int daemon_ = -1;
    const nj_cable_state* shared_ = nullptr;
};

}  // namespace nightjar::testing
