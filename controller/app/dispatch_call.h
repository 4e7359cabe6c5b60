// Late-bound calls into hosted controls, always by fixed DISPID.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace nightjar::app {

// Property put with the named argument DISPID_PROPERTYPUT, as Automation
// requires.
HRESULT PutProperty(IDispatch* control, DISPID dispid, const VARIANT& value) noexcept;
HRESULT GetProperty(IDispatch* control, DISPID dispid, VARIANT* value) noexcept;
// A method call with no arguments; its result is dropped.
HRESULT CallMethod(IDispatch* control, DISPID dispid) noexcept;

inline VARIANT MakeI2(SHORT value) noexcept
{
    VARIANT v{};
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}
inline VARIANT MakeBool(bool value) noexcept
{
    VARIANT v{};
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
inline VARIANT MakeI4(LONG value) noexcept
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// Reads a property as an Automation boolean: true only for True (-1).
HRESULT GetBoolProperty(IDispatch* control, DISPID dispid, bool* value) noexcept;

}  // namespace nightjar::app
