#include "line_control.h"

#include <nj/com_object.h>
#include <nj/dispatch.h>
#include <nj/result.h>
#include <nj/unique.h>

#include <string>

#include "serial_port.h"

namespace nightjar::serial {
namespace {

constexpr HRESULT ControlError(WORD number) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number); }

// The error numbers a serial communications control is known by, so that a
// caller handling the real one's errors handles these alike.
constexpr HRESULT kNotValidWhilePortOpen = ControlError(8000);
constexpr HRESULT kInvalidPortNumber = ControlError(8002);
constexpr HRESULT kPortAlreadyOpen = ControlError(8005);
constexpr HRESULT kPortNotOpen = ControlError(8012);
constexpr HRESULT kInvalidPropertyValue = ControlError(380);

constexpr short kFirstPort = 1;
constexpr short kLastPort = 4;

// Arguments are converted the way late-bound callers expect: VT_I2, VT_I4,
// VT_BOOL and strings of numbers all serve.
Status ToLong(const VARIANT& value, LONG& out, UINT* arg_err)
{
    nj::unique_variant converted;
    const HRESULT hr = ::VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4);
    if (FAILED(hr)) {
        if (arg_err) *arg_err = 0;
        return Status::Plain(hr);
    }
    out = converted.lVal;
    return Status::Ok();
}

Status ToBool(const VARIANT& value, bool& out, UINT* arg_err)
{
    const HRESULT hr = nj::dispatch::ToBool(value, &out);
    if (FAILED(hr) && arg_err) *arg_err = 0;
    return SUCCEEDED(hr) ? Status::Ok() : Status::Plain(hr);
}

class LineControl final : public nj::com::UntypedDispatch<IDispatch> {
public:
    explicit LineControl(std::shared_ptr<CommCalls> calls) noexcept : port_(std::move(calls)) {}

    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;

    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* arg_err) override;

private:
    ~LineControl() override = default;

    Status Put(DISPID id, const VARIANT& value, UINT* arg_err);
    Status Get(DISPID id, VARIANT& value);

    Status PutPortNumber(const VARIANT& value, UINT* arg_err);
    Status PutPortOpen(const VARIANT& value, UINT* arg_err);
    Status PutWireAOutput(const VARIANT& value, UINT* arg_err);
    Status PutWireBOutput(const VARIANT& value, UINT* arg_err);
    Status GetWireInput(DWORD line, VARIANT& value);

    Status RequireOpen() const;
    std::wstring PortName() const { return L"COM" + std::to_wstring(port_number_); }

    short port_number_ = kFirstPort;
    SerialPort port_;
};

struct NamedDispid {
    const wchar_t* name;
    DISPID id;
};

constexpr NamedDispid kNames[] = {
    {L"PortNumber", kDispPortNumber},   {L"PortOpen", kDispPortOpen},
    {L"WireAOutput", kDispWireAOutput}, {L"WireBOutput", kDispWireBOutput},
    {L"WireAInput", kDispWireAInput},   {L"WireBInput", kDispWireBInput},
};

HRESULT LineControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    RETURN_HR_IF(E_POINTER, names == nullptr || ids == nullptr);
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        // Only the member name (the first) can be known: no member takes arguments.
        if (i == 0 && names[0] != nullptr) {
            for (const auto& entry : kNames) {
                if (::lstrcmpiW(entry.name, names[0]) == 0) ids[0] = entry.id;
            }
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT LineControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* arg_err)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    RETURN_HR_IF_NULL(E_INVALIDARG, params);
    try {
        Status status;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params->cArgs != 1);
            RETURN_HR_IF(DISP_E_PARAMNOTFOUND,
                         params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT);
            status = Put(id, params->rgvarg[0], arg_err);
        } else if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params->cArgs != 0);
            nj::unique_variant value;
            status = Get(id, value);
            if (status.ok() && result != nullptr) {
                ::VariantInit(result);
                RETURN_IF_FAILED(::VariantCopy(result, &value));
            }
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (status.ok()) return S_OK;
        if (status.description.empty() || exception == nullptr) return status.hr;
        *exception = EXCEPINFO{};
        exception->bstrSource = ::SysAllocString(L"Nightjar serial line control");
        exception->bstrDescription = ::SysAllocString(status.description.c_str());
        exception->scode = status.hr;
        return DISP_E_EXCEPTION;
    }
    NJ_CATCH_RETURN()
}

Status LineControl::Put(DISPID id, const VARIANT& value, UINT* arg_err)
{
    switch (id) {
    case kDispPortNumber:
        return PutPortNumber(value, arg_err);
    case kDispPortOpen:
        return PutPortOpen(value, arg_err);
    case kDispWireAOutput:
        return PutWireAOutput(value, arg_err);
    case kDispWireBOutput:
        return PutWireBOutput(value, arg_err);
    default:
        return Status::Plain(DISP_E_MEMBERNOTFOUND);
    }
}

Status LineControl::Get(DISPID id, VARIANT& value)
{
    switch (id) {
    case kDispPortNumber:
        value.vt = VT_I2;
        value.iVal = port_number_;
        return Status::Ok();
    case kDispPortOpen:
        value.vt = VT_BOOL;
        value.boolVal = port_.IsOpen() ? VARIANT_TRUE : VARIANT_FALSE;
        return Status::Ok();
    case kDispWireAInput:
        return GetWireInput(MS_CTS_ON, value);
    case kDispWireBInput:
        return GetWireInput(MS_DSR_ON, value);
    default:
        return Status::Plain(DISP_E_MEMBERNOTFOUND);
    }
}

Status LineControl::PutPortNumber(const VARIANT& value, UINT* arg_err)
{
    LONG number = 0;
    if (auto status = ToLong(value, number, arg_err); !status.ok()) return status;
    if (port_.IsOpen())
        return Status::Error(kNotValidWhilePortOpen,
                             L"The port number cannot change while " + PortName() + L" is open");
    if (number < kFirstPort || number > kLastPort)
        return Status::Error(kInvalidPortNumber, L"Invalid port number " + std::to_wstring(number) +
                                                     L": the port number must be 1 to 4");
    port_number_ = static_cast<short>(number);
    return Status::Ok();
}

Status LineControl::PutPortOpen(const VARIANT& value, UINT* arg_err)
{
    bool open = false;
    if (auto status = ToBool(value, open, arg_err); !status.ok()) return status;
    if (!open) {
        port_.Close();
        return Status::Ok();
    }
    if (port_.IsOpen()) return Status::Error(kPortAlreadyOpen, L"Port already open: " + PortName());
    return port_.Open(port_number_);
}

Status LineControl::PutWireAOutput(const VARIANT& value, UINT* arg_err)
{
    LONG level = 0;
    if (auto status = ToLong(value, level, arg_err); !status.ok()) return status;
    if (auto status = RequireOpen(); !status.ok()) return status;
    if (level != 0 && level != 2)
        return Status::Error(kInvalidPropertyValue, L"Invalid value " + std::to_wstring(level) +
                                                        L" for wire A: 0 pulls it, 2 releases it");
    // A released wire is an asserted line.
    return port_.Drive(level == 2 ? SETRTS : CLRRTS);
}

Status LineControl::PutWireBOutput(const VARIANT& value, UINT* arg_err)
{
    bool released = false;
    if (auto status = ToBool(value, released, arg_err); !status.ok()) return status;
    if (auto status = RequireOpen(); !status.ok()) return status;
    return port_.Drive(released ? SETDTR : CLRDTR);
}

Status LineControl::GetWireInput(DWORD line, VARIANT& value)
{
    if (auto status = RequireOpen(); !status.ok()) return status;
    bool asserted = false;
    if (auto status = port_.ReadLine(line, asserted); !status.ok()) return status;
    value.vt = VT_BOOL;
    value.boolVal = asserted ? VARIANT_TRUE : VARIANT_FALSE;
    return Status::Ok();
}

Status LineControl::RequireOpen() const
{
    if (port_.IsOpen()) return Status::Ok();
    return Status::Error(kPortNotOpen, L"Port is not open: open " + PortName() + L" before using its lines");
}

}  // namespace

HRESULT CreateLineControl(REFIID riid, void** ppv) noexcept
{
    try {
        return CreateLineControl(std::make_shared<SystemCommCalls>(), riid, ppv);
    }
    NJ_CATCH_RETURN()
}

HRESULT CreateLineControl(std::shared_ptr<CommCalls> calls, REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    RETURN_HR_IF(E_INVALIDARG, calls == nullptr);
    return nj::com::CreateInstance<LineControl>(riid, ppv, std::move(calls));
}

}  // namespace nightjar::serial
