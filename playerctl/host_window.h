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

#include "nj/unique.h"

namespace plavox {

class TimerTarget {
public:
    virtual void OnTimerTick() noexcept = 0;

protected:
    ~TimerTarget() = default;
};

class HostWindow {
public:
    static constexpr UINT kTimerInterval = 500;

    HostWindow() = default;
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    ~HostWindow();

    HRESULT Create(TimerTarget& target) noexcept;
    HWND Handle() const noexcept { return window_.get(); }

    bool TimerEnabled() const noexcept { return timerEnabled_; }
    HRESULT EnableTimer() noexcept;
    HRESULT DisableTimer() noexcept;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

    nj::unique_hwnd window_;
    bool classHeld_ = false;
    bool timerEnabled_ = false;
};

}  // namespace plavox
