#include "dispatch_lines.h"

#include <nj/dispatch.h>

namespace nightjar::serial {
namespace {

// The link knows its own error only.
template <class Call>
auto AsLinkError(Call call)
{
    try {
        return call();
    } catch (const nj::dispatch::Error& e) {
        throw link::LinkError(static_cast<std::int32_t>(e.hr()), e.what());
    }
}

}  // namespace

void OpenPort(IDispatch& control, short port_number)
{
    nj::dispatch::PutOrThrow(&control, kDispPortNumber, nj::dispatch::I2(port_number));
    nj::dispatch::PutOrThrow(&control, kDispPortOpen, nj::dispatch::Bool(true));
}

void DispatchLines::PutWireAOutput(std::int32_t value)
{
    AsLinkError([&] { nj::dispatch::PutOrThrow(control_.Get(), kDispWireAOutput, nj::dispatch::I4(value)); });
}

void DispatchLines::PutWireBOutput(bool released)
{
    AsLinkError([&] { nj::dispatch::PutOrThrow(control_.Get(), kDispWireBOutput, nj::dispatch::Bool(released)); });
}

bool DispatchLines::WireAInput()
{
    return AsLinkError([&] { return nj::dispatch::GetBoolOrThrow(control_.Get(), kDispWireAInput); });
}

bool DispatchLines::WireBInput()
{
    return AsLinkError([&] { return nj::dispatch::GetBoolOrThrow(control_.Get(), kDispWireBInput); });
}

}  // namespace nightjar::serial
