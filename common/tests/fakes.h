// Objects the common tests drive: an event source with one connection point
// and a sink that runs whatever a test gives it, on each call and at its end.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>

#include "nj/com_object.h"
#include "nj/connection_point.h"

namespace nj::testing {

using Microsoft::WRL::ComPtr;

// {6E2C1E57-5A5B-4C1F-9D43-2B7F1A0C9E11}
inline constexpr IID DIID_TestEvents = {0x6E2C1E57, 0x5A5B, 0x4C1F, {0x9D, 0x43, 0x2B, 0x7F, 0x1A, 0x0C, 0x9E, 0x11}};

class Source final : public com::Object<IConnectionPointContainer> {
public:
    explicit Source(bool* destroyed = nullptr) noexcept : point(this, DIID_TestEvents), destroyed_(destroyed) {}

    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override
    {
        return com::EnumConnectionPoints(points);
    }
    IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** found) override
    {
        return com::FindConnectionPoint(point, riid, found);
    }

    HRESULT Fire(DISPID dispid = 1)
    {
        DISPPARAMS none{};
        return point.Fire(dispid, none);
    }

    com::ConnectionPoint point;

private:
    ~Source() override
    {
        if (destroyed_) *destroyed_ = true;
    }
    bool* destroyed_;
};

class Sink final : public com::UntypedDispatch<IDispatch> {
public:
    std::function<void(DISPID)> on_invoke;
    std::function<void()> on_destroy;
    int calls = 0;

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        ++calls;
        if (on_invoke) on_invoke(dispid);
        return S_OK;
    }

private:
    ~Sink() override
    {
        if (on_destroy) on_destroy();
    }
};

}  // namespace nj::testing
