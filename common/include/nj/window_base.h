// A top-level window bound to a C++ object. The derived class names its
// window class and answers messages in HandleMessage with OnXxx handlers;
// messages it does not take go to DefWindowProc.
#pragma once

#include <windows.h>

#include "nj/result.h"
#include "nj/unique.h"

namespace nj {

template <class Derived>
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const noexcept { return window_.get(); }

protected:
    ~Window() = default;

    // Registers the class on first use and creates the window; WM_CREATE
    // already reaches the derived object.
    HRESULT CreateTopLevel(DWORD ex_style, DWORD style, LPCWSTR title, int x, int y, int width, int height,
                           HICON icon, HWND owner = nullptr) noexcept
    {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        if (!::GetClassInfoExW(instance, Derived::kClassName, &wc)) {
            wc = {};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &Window::WndProc;
            wc.hInstance = instance;
            wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = Derived::kClassName;
            wc.hIcon = icon;
            wc.hIconSm = icon;
            RETURN_IF_WIN32_BOOL_FALSE(::RegisterClassExW(&wc));
        }
        HWND hwnd = ::CreateWindowExW(ex_style, Derived::kClassName, title, style, x, y, width, height, owner,
                                      nullptr, instance, static_cast<Derived*>(this));
        RETURN_LAST_ERROR_IF_NULL(hwnd);
        return S_OK;
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

    nj::unique_hwnd window_;
};

}  // namespace nj
