// The status polling behind the control's timer: at each tick the player's
// title is checked for a new track, and while it plays or pauses its
// position is read. What is found goes to the module state's record and out
// through the two events.
#pragma once

#include <windows.h>

#include <string>

#include "mdl_plavox.h"
#include "plavox/plavox.h"

namespace plavox {

// Where a tick's findings are raised. The record is the module state's own:
// what a handler writes into it stays.
class StatusEvents {
public:
    virtual void RaiseTrackChanged(TrackDetail& detail) noexcept = 0;
    virtual void RaisePlayPositionChanged(LONG seconds) noexcept = 0;

protected:
    ~StatusEvents() = default;
};

class StatusPoller {
public:
    StatusPoller(ModuleState& state, StatusEvents& events) noexcept : state_(state), events_(events) {}
    StatusPoller(const StatusPoller&) = delete;
    StatusPoller& operator=(const StatusPoller&) = delete;

    // One polling step. A step begun while another runs (a sink pumping
    // messages from its handler) does nothing.
    void Tick() noexcept;

private:
    PlavoxPlayStatus ReadPlayStatus() noexcept;
    void CheckTrackTitle();
    void ParseTrackTitle(const std::wstring& title);
    void RaiseEmptiedRecord();

    ModuleState& state_;
    StatusEvents& events_;
    bool ticking_ = false;
};

}  // namespace plavox
