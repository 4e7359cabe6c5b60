#include "dispatch_lines.h"

#include <nj/unique.h>

#include <cstdio>
#include <string>

namespace nightjar::serial {
namespace {

std::string Utf8(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0') return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::string HexOf(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Turns a failed Invoke into the LinkError the link passes on.
[[noreturn]] void ThrowInvokeFailure(HRESULT hr, DISPID id, EXCEPINFO& exception)
{
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    const nj::unique_bstr source(exception.bstrSource);
    const nj::unique_bstr description(exception.bstrDescription);
    const nj::unique_bstr help(exception.bstrHelpFile);
    std::string text = "serial control DISPID " + std::to_string(id) + " failed";
    if (hr == DISP_E_EXCEPTION) {
        if (exception.scode != 0) {
            hr = exception.scode;
        } else if (exception.wCode != 0) {
            hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
        }
        if (const std::string what = Utf8(description.get()); !what.empty()) text = what;
    }
    throw link::LinkError(static_cast<std::int32_t>(hr), text + " (" + HexOf(hr) + ")");
}

}  // namespace

void PutProperty(IDispatch& control, DISPID id, const VARIANT& value)
{
    VARIANT argument = value;  // Invoke does not change its arguments
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO exception{};
    const HRESULT hr =
        control.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, nullptr);
    if (FAILED(hr)) ThrowInvokeFailure(hr, id, exception);
}

bool GetBoolProperty(IDispatch& control, DISPID id)
{
    DISPPARAMS params{};
    nj::unique_variant result;
    EXCEPINFO exception{};
    HRESULT hr =
        control.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params, &result, &exception, nullptr);
    if (FAILED(hr)) ThrowInvokeFailure(hr, id, exception);
    if (result.vt == VT_BOOL) return result.boolVal != VARIANT_FALSE;
    hr = ::VariantChangeType(&result, &result, 0, VT_BOOL);
    if (FAILED(hr))
        throw link::LinkError(static_cast<std::int32_t>(hr),
                              "serial control DISPID " + std::to_string(id) + " gave no Boolean (" + HexOf(hr) + ")");
    return result.boolVal != VARIANT_FALSE;
}

void OpenPort(IDispatch& control, short port_number)
{
    VARIANT number{};
    number.vt = VT_I2;
    number.iVal = port_number;
    PutProperty(control, kDispPortNumber, number);
    VARIANT open{};
    open.vt = VT_BOOL;
    open.boolVal = VARIANT_TRUE;
    PutProperty(control, kDispPortOpen, open);
}

void DispatchLines::PutWireAOutput(std::int32_t value)
{
    VARIANT level{};
    level.vt = VT_I4;
    level.lVal = value;
    PutProperty(*control_.Get(), kDispWireAOutput, level);
}

void DispatchLines::PutWireBOutput(bool released)
{
    VARIANT level{};
    level.vt = VT_BOOL;
    level.boolVal = released ? VARIANT_TRUE : VARIANT_FALSE;
    PutProperty(*control_.Get(), kDispWireBOutput, level);
}

}  // namespace nightjar::serial
