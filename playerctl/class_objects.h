// The classes this library serves, by CLSID.
#pragma once

#include <windows.h>

namespace plavox {

// A class factory for clsPlavox or Plavox; CLASS_E_CLASSNOTAVAILABLE for
// any other class.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;

}  // namespace plavox
