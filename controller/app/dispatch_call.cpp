#include "dispatch_call.h"

#include "nj/result.h"
#include "nj/unique.h"

namespace nightjar::app {

HRESULT PutProperty(IDispatch* control, DISPID dispid, const VARIANT& value) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, control);
    VARIANT arg = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                           nullptr);
}

HRESULT GetProperty(IDispatch* control, DISPID dispid, VARIANT* value) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, control);
    RETURN_HR_IF_NULL(E_POINTER, value);
    ::VariantInit(value);
    DISPPARAMS none{};
    return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr,
                           nullptr);
}

HRESULT CallMethod(IDispatch* control, DISPID dispid) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, control);
    DISPPARAMS none{};
    nj::unique_variant result;
    return control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr,
                           nullptr);
}

HRESULT GetBoolProperty(IDispatch* control, DISPID dispid, bool* value) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = false;
    nj::unique_variant raw;
    RETURN_IF_FAILED(GetProperty(control, dispid, &raw));
    nj::unique_variant as_bool;
    RETURN_IF_FAILED(::VariantChangeType(&as_bool, &raw, 0, VT_BOOL));
    *value = as_bool.boolVal == VARIANT_TRUE;
    return S_OK;
}

}  // namespace nightjar::app
