// A window bound to a C++ object. The derived class names its window class
// (kClassName) and answers messages in HandleMessage with OnXxx handlers;
// messages it does not take go to DefWindowProc.
//
// The object owns its window and destroys it in the base destructor. By then
// the derived part is gone, so that destruction runs unbound: no handler sees
// WM_DESTROY. A derived class that wants its handlers at the end calls
// Destroy() from its own destructor (or earlier).
//
// The class is registered in the module that creates the first window and
// removed with the last object, so no class outlives a library that holds
// its window procedure. One module per derived class.
#pragma once

#include <windows.h>

#include "nj/module.h"
#include "nj/result.h"
#include "nj/unique.h"

namespace nj {

// How a window is made; start from one of the presets and set what differs.
struct WindowParams {
    HINSTANCE instance = nullptr;  // the module that registers the class; null: CurrentModule()
    HWND parent = nullptr;         // owner of a top-level window, parent of a child, or HWND_MESSAGE
    DWORD ex_style = 0;
    DWORD style = 0;
    LPCWSTR title = L"";
    int x = 0, y = 0, width = 0, height = 0;
    UINT child_id = 0;  // the control id of a WS_CHILD window
    // Taken when the class is registered, by the first window of its kind.
    HICON icon = nullptr;
    HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);

    // A window of its own on the desktop, of the given outer size.
    static WindowParams TopLevel(LPCWSTR title, DWORD style, DWORD ex_style, POINT at, SIZE size) noexcept
    {
        WindowParams params;
        params.title = title;
        params.style = style;
        params.ex_style = ex_style;
        params.x = at.x;
        params.y = at.y;
        params.width = size.cx;
        params.height = size.cy;
        return params;
    }

    // A control inside `parent`, known to it by `id`, at a rectangle of its client area.
    static WindowParams Child(HWND parent, UINT id, DWORD style, const RECT& where) noexcept
    {
        WindowParams params;
        params.parent = parent;
        params.style = WS_CHILD | style;
        params.x = where.left;
        params.y = where.top;
        params.width = where.right - where.left;
        params.height = where.bottom - where.top;
        params.child_id = id;
        return params;
    }

    // A window that only receives messages: never shown, enumerated or
    // reached by broadcasts.
    static WindowParams MessageOnly() noexcept
    {
        WindowParams params;
        params.parent = HWND_MESSAGE;
        return params;
    }
};

template <class Derived>
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const noexcept { return window_.get(); }

protected:
    ~Window()
    {
        DestroySilently();
        if (class_held_) ReleaseClass(class_instance_);
    }

    // Registers the class on first use and creates the window; WM_NCCREATE
    // and WM_CREATE already reach the derived object.
    HRESULT Create(const WindowParams& params) noexcept
    {
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), window_);
        const HINSTANCE instance = params.instance ? params.instance : CurrentModule();
        if (!class_held_) {
            RETURN_IF_FAILED(AcquireClass(instance, params));
            class_held_ = true;
            class_instance_ = instance;
        }
        const HMENU menu = (params.style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(params.child_id))
                                                     : nullptr;
        HWND hwnd = ::CreateWindowExW(params.ex_style, Derived::kClassName, params.title, params.style, params.x,
                                      params.y, params.width, params.height, params.parent, menu, class_instance_,
                                      static_cast<Derived*>(this));
        RETURN_LAST_ERROR_IF_NULL(hwnd);
        return S_OK;
    }

    // Destroys the window with the object's handlers still answering.
    void Destroy() noexcept
    {
        if (window_) ::DestroyWindow(window_.get());
    }

    // Unbinds and destroys the window; no handler of the object runs for the
    // messages of the destruction.
    void DestroySilently() noexcept
    {
        if (!window_) return;
        ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
        window_.reset();
    }

    LRESULT DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam) noexcept
    {
        return ::DefWindowProcW(Handle(), message, wparam, lparam);
    }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) noexcept
    {
        if (message == WM_NCCREATE) {
            auto* self = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            static_cast<Window*>(self)->window_.reset(hwnd);
        }
        auto* self = reinterpret_cast<Derived*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
        if (message == WM_NCDESTROY) {
            // Late messages must not reach an object that is going away.
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            (void)static_cast<Window*>(self)->window_.release();
            return ::DefWindowProcW(hwnd, message, wparam, lparam);
        }
        return self->HandleMessage(message, wparam, lparam);
    }

    // Objects of this class that hold its registration, across threads.
    struct ClassUsers {
        SRWLOCK lock = SRWLOCK_INIT;
        long count = 0;
    };
    static ClassUsers& Users() noexcept
    {
        static ClassUsers users;
        return users;
    }

    static HRESULT AcquireClass(HINSTANCE instance, const WindowParams& params) noexcept
    {
        ClassUsers& users = Users();
        ::AcquireSRWLockExclusive(&users.lock);
        const scope_exit unlock([&users] { ::ReleaseSRWLockExclusive(&users.lock); });
        if (users.count == 0) {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &Window::WndProc;
            wc.hInstance = instance;
            wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = params.background;
            wc.lpszClassName = Derived::kClassName;
            wc.hIcon = params.icon;
            wc.hIconSm = params.icon;
            // A class left registered (its last window outlived its object)
            // is ours from before and serves as it is.
            if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return last_error_hr();
        }
        ++users.count;
        return S_OK;
    }

    static void ReleaseClass(HINSTANCE instance) noexcept
    {
        ClassUsers& users = Users();
        ::AcquireSRWLockExclusive(&users.lock);
        if (--users.count == 0) ::UnregisterClassW(Derived::kClassName, instance);
        ::ReleaseSRWLockExclusive(&users.lock);
    }

    unique_hwnd window_;
    bool class_held_ = false;
    HINSTANCE class_instance_ = nullptr;
};

}  // namespace nj
