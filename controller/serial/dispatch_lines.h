// The link's Lines over any serial line control reached through IDispatch,
// by the line control's DISPIDs: property put with the named argument
// DISPID_PROPERTYPUT, property get with no arguments. Every failure throws
// link::LinkError with the control's HRESULT and description.
#pragma once

#include "line_control.h"

#include <xfer.h>

#include <wrl/client.h>

namespace nightjar::serial {

void PutProperty(IDispatch& control, DISPID id, const VARIANT& value);
bool GetBoolProperty(IDispatch& control, DISPID id);

// Selects the port (1 to 4) and opens it.
void OpenPort(IDispatch& control, short port_number);

class DispatchLines final : public link::Lines {
public:
    explicit DispatchLines(Microsoft::WRL::ComPtr<IDispatch> control) : control_(std::move(control)) {}

    void PutWireAOutput(std::int32_t value) override;
    void PutWireBOutput(bool released) override;
    bool WireAInput() override { return GetBoolProperty(*control_.Get(), kDispWireAInput); }
    bool WireBInput() override { return GetBoolProperty(*control_.Get(), kDispWireBInput); }

private:
    Microsoft::WRL::ComPtr<IDispatch> control_;
};

}  // namespace nightjar::serial
