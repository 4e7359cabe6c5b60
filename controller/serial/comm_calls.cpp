#include "comm_calls.h"

namespace nightjar::serial {

HANDLE SystemCommCalls::OpenPort(const wchar_t* path) noexcept
{
    return ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL SystemCommCalls::GetCommState(HANDLE port, DCB& dcb) noexcept { return ::GetCommState(port, &dcb); }

BOOL SystemCommCalls::SetCommState(HANDLE port, DCB& dcb) noexcept { return ::SetCommState(port, &dcb); }

BOOL SystemCommCalls::EscapeCommFunction(HANDLE port, DWORD function) noexcept
{
    return ::EscapeCommFunction(port, function);
}

BOOL SystemCommCalls::GetCommModemStatus(HANDLE port, DWORD& status) noexcept
{
    return ::GetCommModemStatus(port, &status);
}

}  // namespace nightjar::serial
