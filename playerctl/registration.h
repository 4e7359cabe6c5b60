// What registration writes: the type library under its LIBID, version 10.0
// and locale 0, both classes as in-process servers, the ProgID of the
// control and its control marks. Removal deletes exactly that and is
// idempotent.
#pragma once

#include <windows.h>

namespace plavox {

HRESULT RegisterServer(HMODULE module) noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace plavox
