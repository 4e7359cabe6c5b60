// Owning wrappers for Win32 handles and Automation values.
//
// One template, one traits struct per kind of handle. The traits say which
// value means "empty" (INVALID_HANDLE_VALUE for files and COM ports, null for
// nearly everything else) and how to close. put() resets before handing out
// the address, so an out-parameter never leaks the previous handle.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace nj {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() noexcept = default;
    explicit unique_any(pointer p) noexcept : value_(p) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    [[nodiscard]] pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer p = Traits::invalid()) noexcept
    {
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = p;
    }
    [[nodiscard]] pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

template <typename T, auto Close>
struct null_handle_traits {
    using pointer = T;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { Close(p); }
};

struct file_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer p) noexcept { ::CloseHandle(p); }
};

inline void close_reg_key(HKEY key) noexcept { ::RegCloseKey(key); }
inline void delete_gdi_object(HGDIOBJ obj) noexcept { ::DeleteObject(obj); }

using unique_hfile = unique_any<file_handle_traits>;                         // CreateFile, COM ports
using unique_handle = unique_any<null_handle_traits<HANDLE, ::CloseHandle>>;  // events, threads, processes
using unique_hkey = unique_any<null_handle_traits<HKEY, close_reg_key>>;
using unique_hwnd = unique_any<null_handle_traits<HWND, ::DestroyWindow>>;
using unique_hicon = unique_any<null_handle_traits<HICON, ::DestroyIcon>>;
using unique_hmenu = unique_any<null_handle_traits<HMENU, ::DestroyMenu>>;
using unique_hfont = unique_any<null_handle_traits<HFONT, delete_gdi_object>>;
using unique_hbitmap = unique_any<null_handle_traits<HBITMAP, delete_gdi_object>>;
using unique_hbrush = unique_any<null_handle_traits<HBRUSH, delete_gdi_object>>;
using unique_hmodule = unique_any<null_handle_traits<HMODULE, ::FreeLibrary>>;
using unique_bstr = unique_any<null_handle_traits<BSTR, ::SysFreeString>>;

// A VARIANT that clears itself.
class unique_variant : public VARIANT {
public:
    unique_variant() noexcept { ::VariantInit(this); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { ::VariantClear(this); }
    VARIANT* reset() noexcept
    {
        ::VariantClear(this);
        return this;
    }
};

// Balances a successful CoInitializeEx on this thread.
class unique_couninitialize {
public:
    explicit unique_couninitialize(HRESULT hr) noexcept : active_(SUCCEEDED(hr)) {}
    unique_couninitialize(const unique_couninitialize&) = delete;
    unique_couninitialize& operator=(const unique_couninitialize&) = delete;
    ~unique_couninitialize()
    {
        if (active_) ::CoUninitialize();
    }

private:
    bool active_;
};

inline unique_couninitialize CoInitializeApartment() noexcept
{
    return unique_couninitialize(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class scope_exit {
public:
    explicit scope_exit(F f) noexcept : f_(std::move(f)) {}
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    ~scope_exit()
    {
        if (armed_) f_();
    }
    void dismiss() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace nj
