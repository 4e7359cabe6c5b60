// The control's own window: a hidden message-only window on the thread
// that created the control. It owns the polling timer and is the owner
// window of the shell calls.
//
// Message-only, because the control never shows anything at run time: such
// a window is not enumerated (FindWindow, EnumWindows), receives no
// broadcasts and cannot be activated, yet its thread's message queue
// delivers its timer like any other window's.
#pragma once

#include <windows.h>

#include "nj/window_base.h"

namespace plavox {

class TimerTarget {
public:
    virtual void OnTimerTick() noexcept = 0;

protected:
    ~TimerTarget() = default;
};

class HostWindow final : public nj::Window<HostWindow> {
public:
    static constexpr wchar_t kClassName[] = L"NightjarPlavoxControl";
    static constexpr UINT kTimerInterval = 500;

    HRESULT Create(TimerTarget& target) noexcept;

    bool TimerEnabled() const noexcept { return timerEnabled_; }
    HRESULT EnableTimer() noexcept;
    HRESULT DisableTimer() noexcept;

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    TimerTarget* target_ = nullptr;
    bool timerEnabled_ = false;
};

}  // namespace plavox
