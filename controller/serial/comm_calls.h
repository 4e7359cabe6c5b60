// The system's serial calls that the line control makes, behind one
// interface so that a test can stand in for them (and make them fail).
#pragma once

#include <windows.h>

#include <memory>

namespace nightjar::serial {

class CommCalls {
public:
    virtual ~CommCalls() = default;

    // Each is the system call of the same name, with its failures reported
    // the same way (FALSE or INVALID_HANDLE_VALUE, and the last error).
    virtual HANDLE OpenPort(const wchar_t* path) noexcept = 0;
    virtual BOOL GetCommState(HANDLE port, DCB& dcb) noexcept = 0;
    virtual BOOL SetCommState(HANDLE port, DCB& dcb) noexcept = 0;
    virtual BOOL EscapeCommFunction(HANDLE port, DWORD function) noexcept = 0;
    virtual BOOL GetCommModemStatus(HANDLE port, DWORD& status) noexcept = 0;
};

// The calls as the system makes them.
class SystemCommCalls : public CommCalls {
public:
    HANDLE OpenPort(const wchar_t* path) noexcept override;
    BOOL GetCommState(HANDLE port, DCB& dcb) noexcept override;
    BOOL SetCommState(HANDLE port, DCB& dcb) noexcept override;
    BOOL EscapeCommFunction(HANDLE port, DWORD function) noexcept override;
    BOOL GetCommModemStatus(HANDLE port, DWORD& status) noexcept override;
};

}  // namespace nightjar::serial
