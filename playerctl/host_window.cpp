#include "host_window.h"

#include "mdl_plavox.h"
#include "nj/result.h"

namespace plavox {
namespace {

constexpr UINT_PTR kTimerId = 1;

}  // namespace

HRESULT HostWindow::Create(TimerTarget& target) noexcept
{
    target_ = &target;
    return Window::Create(nj::WindowParams::MessageOnly());
}

HRESULT HostWindow::EnableTimer() noexcept
{
    if (timerEnabled_) return S_OK;
    RETURN_HR_IF(E_UNEXPECTED, Handle() == nullptr);
    RETURN_HR_IF(nj::last_error_hr(), ::SetTimer(Handle(), kTimerId, kTimerInterval, nullptr) == 0);
    timerEnabled_ = true;
    return S_OK;
}

HRESULT HostWindow::DisableTimer() noexcept
{
    if (!timerEnabled_) return S_OK;
    RETURN_IF_WIN32_BOOL_FALSE(::KillTimer(Handle(), kTimerId));
    timerEnabled_ = false;
    return S_OK;
}

LRESULT HostWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    if (message == WM_TIMER && wparam == kTimerId) {
        if (target_) target_->OnTimerTick();
        return 0;
    }
    return DefaultHandling(message, wparam, lparam);
}

}  // namespace plavox
