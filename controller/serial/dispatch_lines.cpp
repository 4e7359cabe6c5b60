#include "dispatch_lines.h"

#include <nj/dispatch.h>
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

// The callee's own words when it gave any.
void ThrowIfFailed(HRESULT hr, DISPID id, const nj::unique_bstr& description, const char* what = "failed")
{
    if (SUCCEEDED(hr)) return;
    std::string text = Utf8(description.get());
    if (text.empty()) text = "control DISPID " + std::to_string(id) + " " + what;
    throw link::LinkError(static_cast<std::int32_t>(hr), text + " (" + HexOf(hr) + ")");
}

}  // namespace

void Put(IDispatch* object, DISPID id, const VARIANT& value)
{
    nj::unique_bstr description;
    ThrowIfFailed(nj::dispatch::Put(object, id, value, &description), id, description);
}

bool GetBool(IDispatch* object, DISPID id)
{
    nj::unique_bstr description;
    nj::unique_variant value;
    ThrowIfFailed(nj::dispatch::Get(object, id, &value, &description), id, description);
    bool result = false;
    ThrowIfFailed(nj::dispatch::ToBool(value, &result), id, nj::unique_bstr(), "gave no Boolean");
    return result;
}

void Call(IDispatch* object, DISPID id)
{
    nj::unique_bstr description;
    ThrowIfFailed(nj::dispatch::Call(object, id, &description), id, description);
}

void OpenPort(IDispatch& control, short port_number)
{
    Put(&control, kDispPortNumber, nj::dispatch::I2(port_number));
    Put(&control, kDispPortOpen, nj::dispatch::Bool(true));
}

void DispatchLines::PutWireAOutput(std::int32_t value)
{
    Put(control_.Get(), kDispWireAOutput, nj::dispatch::I4(value));
}

void DispatchLines::PutWireBOutput(bool released)
{
    Put(control_.Get(), kDispWireBOutput, nj::dispatch::Bool(released));
}

}  // namespace nightjar::serial
