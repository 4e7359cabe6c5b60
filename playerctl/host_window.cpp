#include "host_window.h"

#include "mdl_plavox.h"
#include "nj/result.h"

namespace plavox {
namespace {

constexpr wchar_t kClassName[] = L"NightjarPlavoxControl";
constexpr UINT_PTR kTimerId = 1;

// The class is registered while any control window exists and removed with
// the last one, so no class outlives the library that holds its procedure.
SRWLOCK g_classLock = SRWLOCK_INIT;
long g_classUsers = 0;

class ClassLock {
public:
    ClassLock() noexcept { ::AcquireSRWLockExclusive(&g_classLock); }
    ClassLock(const ClassLock&) = delete;
    ClassLock& operator=(const ClassLock&) = delete;
    ~ClassLock() { ::ReleaseSRWLockExclusive(&g_classLock); }
};

HRESULT AcquireClass(WNDPROC procedure) noexcept
{
    ClassLock lock;
    if (g_classUsers == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = procedure;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kClassName;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nj::last_error_hr();
    }
    ++g_classUsers;
    return S_OK;
}

void ReleaseClass() noexcept
{
    ClassLock lock;
    if (--g_classUsers == 0) ::UnregisterClassW(kClassName, ThisModule());
}

}  // namespace

HostWindow::~HostWindow()
{
    window_.reset();
    if (classHeld_) ReleaseClass();
}

HRESULT HostWindow::Create(TimerTarget& target) noexcept
{
    RETURN_IF_FAILED(AcquireClass(WindowProc));
    classHeld_ = true;
    window_.reset(::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), &target));
    RETURN_LAST_ERROR_IF_NULL(window_.get());
    return S_OK;
}

HRESULT HostWindow::EnableTimer() noexcept
{
    if (timerEnabled_) return S_OK;
    RETURN_HR_IF(E_UNEXPECTED, !window_);
    RETURN_HR_IF(nj::last_error_hr(), ::SetTimer(window_.get(), kTimerId, kTimerInterval, nullptr) == 0);
    timerEnabled_ = true;
    return S_OK;
}

HRESULT HostWindow::DisableTimer() noexcept
{
    if (!timerEnabled_) return S_OK;
    RETURN_IF_WIN32_BOOL_FALSE(::KillTimer(window_.get(), kTimerId));
    timerEnabled_ = false;
    return S_OK;
}

LRESULT CALLBACK HostWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_NCDESTROY:
        // Late messages must not reach a control that is going away.
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    case WM_TIMER:
        if (wparam == kTimerId) {
            if (auto* target = reinterpret_cast<TimerTarget*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
                target->OnTimerTick();
            }
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace plavox
