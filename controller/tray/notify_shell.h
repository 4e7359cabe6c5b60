// The shell's notification-icon calls that the tray control makes, behind one
// interface so that a test can stand in for the shell (or for its absence).
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace nightjar::tray {

class NotifyShell {
public:
    virtual ~NotifyShell() = default;

    // Each is Shell_NotifyIconW with the NIM_ message of its name, and fails
    // the same way: FALSE when the shell refuses or none is running.
    virtual BOOL Add(NOTIFYICONDATAW& data) noexcept = 0;
    virtual BOOL SetVersion(NOTIFYICONDATAW& data) noexcept = 0;
    virtual BOOL Modify(NOTIFYICONDATAW& data) noexcept = 0;
    virtual BOOL Delete(NOTIFYICONDATAW& data) noexcept = 0;
};

// The calls as the system makes them.
class SystemNotifyShell : public NotifyShell {
public:
    BOOL Add(NOTIFYICONDATAW& data) noexcept override;
    BOOL SetVersion(NOTIFYICONDATAW& data) noexcept override;
    BOOL Modify(NOTIFYICONDATAW& data) noexcept override;
    BOOL Delete(NOTIFYICONDATAW& data) noexcept override;
};

}  // namespace nightjar::tray
