#include "nj/dispatch.h"

#include <cstdio>

#include "nj/result.h"
#include "nj/text.h"

namespace nj::dispatch {
namespace {

// The code an Automation exception stands for. A callee that fills in a
// success code (or nothing) still failed: the call is never reported as
// having worked.
HRESULT CodeOf(EXCEPINFO& exception) noexcept
{
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    if (FAILED(exception.scode)) return exception.scode;
    if (exception.wCode != 0) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
    return DISP_E_EXCEPTION;
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result,
               unique_bstr* description) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, object);
    if (description) description->reset();
    EXCEPINFO exception{};
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, nullptr);
    if (hr == DISP_E_EXCEPTION) hr = CodeOf(exception);
    // The strings are ours whatever the outcome.
    const unique_bstr source(exception.bstrSource), help(exception.bstrHelpFile);
    unique_bstr words(exception.bstrDescription);
    if (description && FAILED(hr)) *description = std::move(words);
    return hr;
}

std::string HexOf(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The callee's own words when it gave any.
void ThrowIfFailed(HRESULT hr, DISPID id, const unique_bstr& description, const char* what = "failed")
{
    if (SUCCEEDED(hr)) return;
    std::string text = text::ToUtf8(text::View(description.get()));
    if (text.empty()) text = "DISPID " + std::to_string(id) + " " + what;
    throw Error(hr, text + " (" + HexOf(hr) + ")");
}

}  // namespace

HRESULT ToBool(const VARIANT& value, bool* out) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = false;
    if (value.vt == VT_BOOL) {
        *out = IsTrue(value.boolVal);
        return S_OK;
    }
    unique_variant converted;
    // VariantChangeType leaves its source alone; MinGW declares it non-const.
    RETURN_IF_FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BOOL));
    *out = IsTrue(converted.boolVal);
    return S_OK;
}

HRESULT Put(IDispatch* object, DISPID id, const VARIANT& value, unique_bstr* description) noexcept
{
    VARIANT argument = value;  // Invoke reads its arguments and leaves them alone
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    return Invoke(object, id, DISPATCH_PROPERTYPUT, params, nullptr, description);
}

HRESULT Get(IDispatch* object, DISPID id, VARIANT* value, unique_bstr* description) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, value);
    ::VariantInit(value);
    DISPPARAMS none{};
    return Invoke(object, id, DISPATCH_PROPERTYGET, none, value, description);
}

HRESULT GetBool(IDispatch* object, DISPID id, bool* value, unique_bstr* description) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = false;
    unique_variant raw;
    RETURN_IF_FAILED(Get(object, id, &raw, description));
    return ToBool(raw, value);
}

HRESULT Call(IDispatch* object, DISPID id, unique_bstr* description) noexcept
{
    DISPPARAMS none{};
    unique_variant result;
    return Invoke(object, id, DISPATCH_METHOD, none, &result, description);
}

void PutOrThrow(IDispatch* object, DISPID id, const VARIANT& value)
{
    unique_bstr description;
    ThrowIfFailed(Put(object, id, value, &description), id, description);
}

bool GetBoolOrThrow(IDispatch* object, DISPID id)
{
    unique_bstr description;
    unique_variant value;
    ThrowIfFailed(Get(object, id, &value, &description), id, description);
    bool result = false;
    ThrowIfFailed(ToBool(value, &result), id, unique_bstr(), "gave no Boolean");
    return result;
}

void CallOrThrow(IDispatch* object, DISPID id)
{
    unique_bstr description;
    ThrowIfFailed(Call(object, id, &description), id, description);
}

}  // namespace nj::dispatch
