// Early-return error macros for HRESULT-returning code.
//
// Every COM method and export returns through these; exceptions thrown inside
// a body are turned into an HRESULT by NJ_CATCH_RETURN so none crosses the ABI.
#pragma once

#include <windows.h>

#include <new>

namespace nj {

inline HRESULT last_error_hr() noexcept
{
    const DWORD err = ::GetLastError();
    return err == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(err);
}

}  // namespace nj

#define RETURN_IF_FAILED(expr)                      \
    do {                                            \
        const HRESULT nj_hr_ = (expr);              \
        if (FAILED(nj_hr_)) return nj_hr_;          \
    } while (0)

#define RETURN_HR_IF(hr, cond)                      \
    do {                                            \
        if (cond) return (hr);                      \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF((hr), (ptr) == nullptr)

#define RETURN_IF_WIN32_BOOL_FALSE(expr)            \
    do {                                            \
        if (!(expr)) return ::nj::last_error_hr();  \
    } while (0)

#define RETURN_LAST_ERROR_IF_NULL(expr)             \
    do {                                            \
        if ((expr) == nullptr) return ::nj::last_error_hr(); \
    } while (0)

#define RETURN_IF_WIN32_ERROR(expr)                 \
    do {                                            \
        const LONG nj_err_ = (expr);                \
        if (nj_err_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(nj_err_); \
    } while (0)

// Closes a try block in a function that returns HRESULT.
#define NJ_CATCH_RETURN()                           \
    catch (const std::bad_alloc&) { return E_OUTOFMEMORY; } \
    catch (...) { return E_UNEXPECTED; }
