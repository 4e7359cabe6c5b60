// The link's Lines over any serial line control reached through IDispatch by
// the line control's DISPIDs. Every failure throws link::LinkError with the
// callee's HRESULT and description; the calls themselves are nj::dispatch's.
#pragma once

#include "line_control.h"

#include <xfer.h>

#include <wrl/client.h>

namespace nightjar::serial {

// Selects the port (1 to 4) and opens it; nj::dispatch::Error when it cannot.
void OpenPort(IDispatch& control, short port_number);

class DispatchLines final : public link::Lines {
public:
    explicit DispatchLines(Microsoft::WRL::ComPtr<IDispatch> control) : control_(std::move(control)) {}

    void PutWireAOutput(std::int32_t value) override;
    void PutWireBOutput(bool released) override;
    bool WireAInput() override;
    bool WireBInput() override;

private:
    Microsoft::WRL::ComPtr<IDispatch> control_;
};

}  // namespace nightjar::serial
