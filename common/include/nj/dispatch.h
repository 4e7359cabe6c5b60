// Late-bound calls by DISPID: property get and put, and method calls without
// arguments. Every call returns an HRESULT and throws nothing; the OrThrow
// forms, for code that runs a sequence of calls and gives up on the first
// failure, throw Error instead.
//
// A callee that raises an Automation exception (DISP_E_EXCEPTION) is reported
// by the code it raised, so a caller sees why the call failed rather than that
// it failed; its description goes to `description` when the caller wants it.
//
// Booleans follow the Automation rule: VARIANT_FALSE (0) is False and every
// other value is True. VARIANT_TRUE (-1) is only what we put, never what we
// insist on reading back.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <stdexcept>
#include <string>

#include "nj/unique.h"

namespace nj::dispatch {

inline VARIANT I2(SHORT value) noexcept
{
    VARIANT v{};
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}
inline VARIANT I4(LONG value) noexcept
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
inline VARIANT Bool(bool value) noexcept
{
    VARIANT v{};
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

inline bool IsTrue(VARIANT_BOOL value) noexcept { return value != VARIANT_FALSE; }

// Reads any value that converts to VT_BOOL (numbers, "True", ...) by the rule
// above; DISP_E_TYPEMISMATCH and friends for one that does not.
HRESULT ToBool(const VARIANT& value, bool* out) noexcept;

// Property put with the named argument DISPID_PROPERTYPUT, as Automation
// requires of every put.
HRESULT Put(IDispatch* object, DISPID id, const VARIANT& value, unique_bstr* description = nullptr) noexcept;
HRESULT Get(IDispatch* object, DISPID id, VARIANT* value, unique_bstr* description = nullptr) noexcept;
HRESULT GetBool(IDispatch* object, DISPID id, bool* value, unique_bstr* description = nullptr) noexcept;
// A method with no arguments; whatever it returns is dropped.
HRESULT Call(IDispatch* object, DISPID id, unique_bstr* description = nullptr) noexcept;

// A late-bound call that failed: the callee's HRESULT, and its description
// (or which member failed) with the code in hex as the message.
class Error : public std::runtime_error {
public:
    Error(HRESULT hr, const std::string& what) : std::runtime_error(what), hr_(hr) {}
    HRESULT hr() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

void PutOrThrow(IDispatch* object, DISPID id, const VARIANT& value);
bool GetBoolOrThrow(IDispatch* object, DISPID id);
void CallOrThrow(IDispatch* object, DISPID id);

}  // namespace nj::dispatch
