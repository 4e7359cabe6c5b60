// The serial line control: a port's modem-control lines as the two wires of
// the calculator's link cable. Callers drive it only through IDispatch,
// property put and get by DISPID.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "comm_calls.h"

namespace nightjar::serial {

enum LineControlDispid : DISPID {
    kDispPortNumber = 4,    // put: 16-bit port number 1 to 4, used by the next open
    kDispWireAInput = 5,    // get: Boolean, False while wire A is pulled
    kDispWireBInput = 7,    // get: Boolean, False while wire B is pulled
    kDispWireBOutput = 9,   // put: Boolean, False pulls wire B, True releases it
    kDispWireAOutput = 10,  // put: 32-bit integer, 0 pulls wire A, 2 releases it
    kDispPortOpen = 20,     // put True opens, False closes; get tells whether open
};

// Creates a line control with no port open, making the system's serial calls.
HRESULT CreateLineControl(REFIID riid, void** ppv) noexcept;
// The same, making its serial calls through `calls`.
HRESULT CreateLineControl(std::shared_ptr<CommCalls> calls, REFIID riid, void** ppv) noexcept;

}  // namespace nightjar::serial
