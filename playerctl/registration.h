// What registration writes: the type library under its LIBID, version 10.0
// and locale 0, both classes as in-process servers, the ProgID of the
// control and its control marks. Removal deletes exactly that and is
// idempotent.
//
// The same registration can go to the current user's classes instead
// (HKCU\Software\Classes), which needs no administrator rights; Install is
// DllInstall's "user" scope for that.
#pragma once

#include <windows.h>

namespace plavox {

HRESULT RegisterServer(HMODULE module) noexcept;
HRESULT UnregisterServer() noexcept;

HRESULT RegisterForUser(HMODULE module) noexcept;
HRESULT UnregisterForUser() noexcept;
// install: register (true) or remove (false); command_line must be "user".
HRESULT Install(HMODULE module, bool install, const wchar_t* command_line) noexcept;

}  // namespace plavox
