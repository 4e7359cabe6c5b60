#include "notify_shell.h"

namespace nightjar::tray {

BOOL SystemNotifyShell::Add(NOTIFYICONDATAW& data) noexcept { return ::Shell_NotifyIconW(NIM_ADD, &data); }

BOOL SystemNotifyShell::SetVersion(NOTIFYICONDATAW& data) noexcept
{
    return ::Shell_NotifyIconW(NIM_SETVERSION, &data);
}

BOOL SystemNotifyShell::Modify(NOTIFYICONDATAW& data) noexcept { return ::Shell_NotifyIconW(NIM_MODIFY, &data); }

BOOL SystemNotifyShell::Delete(NOTIFYICONDATAW& data) noexcept { return ::Shell_NotifyIconW(NIM_DELETE, &data); }

}  // namespace nightjar::tray
