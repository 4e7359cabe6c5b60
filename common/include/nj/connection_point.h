// One outgoing interface of an object: the sinks connected to it and the
// firing of its events through IDispatch::Invoke.
//
// The point lives inside its container object and has no reference count of
// its own, so a sink that holds the point keeps the whole object alive.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "nj/com_object.h"

namespace nj::com {

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* container, const IID& iid) noexcept
        : container_(container), iid_(iid)
    {
    }
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    const IID& Iid() const noexcept { return iid_; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        *ppv = nullptr;
        RETURN_HR_IF(E_NOINTERFACE, riid != IID_IUnknown && riid != IID_IConnectionPoint);
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    IFACEMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    IFACEMETHODIMP GetConnectionInterface(IID* iid) override
    {
        RETURN_HR_IF_NULL(E_POINTER, iid);
        *iid = iid_;
        return S_OK;
    }
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override
    {
        RETURN_HR_IF_NULL(E_POINTER, container);
        *container = container_;
        container_->AddRef();
        return S_OK;
    }
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override
    {
        RETURN_HR_IF_NULL(E_POINTER, cookie);
        *cookie = 0;
        RETURN_HR_IF_NULL(E_POINTER, sink);
        ComPtr<IDispatch> dispatch;
        if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(dispatch.GetAddressOf())))) {
            RETURN_HR_IF(CONNECT_E_CANNOTCONNECT, FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))));
        }
        try {
            size_t slot = 0;
            while (slot < sinks_.size() && sinks_[slot]) ++slot;
            if (slot == sinks_.size()) sinks_.emplace_back();
            sinks_[slot] = std::move(dispatch);
            *cookie = static_cast<DWORD>(slot + 1);
            return S_OK;
        }
        NJ_CATCH_RETURN()
    }
    IFACEMETHODIMP Unadvise(DWORD cookie) override
    {
        RETURN_HR_IF(CONNECT_E_NOCONNECTION, cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]);
        // Released outside the slot: the sink may call back into us from its destructor.
        ComPtr<IDispatch> gone = std::move(sinks_[cookie - 1]);
        return S_OK;
    }
    IFACEMETHODIMP EnumConnections(IEnumConnections** connections) override
    {
        RETURN_HR_IF_NULL(E_POINTER, connections);
        *connections = nullptr;
        return E_NOTIMPL;
    }

    // Calls every connected sink in turn; each has returned before the next
    // is called. Sinks may connect or disconnect from inside their handler,
    // so the call goes over a snapshot, and a sink disconnected meanwhile is
    // not called any more: its owner may be gone. A sink may also let go of
    // the whole object, which lives until the last sink has been called.
    HRESULT Fire(DISPID dispid, DISPPARAMS& params) const noexcept
    {
        try {
            const ComPtr<IConnectionPointContainer> keep_alive(container_);
            const std::vector<ComPtr<IDispatch>> snapshot = sinks_;
            for (size_t slot = 0; slot < snapshot.size(); ++slot) {
                const ComPtr<IDispatch>& sink = snapshot[slot];
                if (!sink || slot >= sinks_.size() || sinks_[slot].Get() != sink.Get()) continue;
                sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                             nullptr);
            }
            return S_OK;
        }
        NJ_CATCH_RETURN()
    }

    bool HasSinks() const noexcept
    {
        for (const auto& sink : sinks_)
            if (sink) return true;
        return false;
    }

    // The sinks are released after the list is empty, for the same reason
    // as in Unadvise.
    void DisconnectAll() noexcept
    {
        std::vector<ComPtr<IDispatch>> gone = std::move(sinks_);
        sinks_.clear();
    }

private:
    IConnectionPointContainer* container_;
    IID iid_;
    std::vector<ComPtr<IDispatch>> sinks_;
};

// IConnectionPointContainer's two lookups for an object whose one outgoing
// interface is `point`: that interface finds it, any other finds nothing,
// and there is no enumeration (hosts that bind events ask by IID).
inline HRESULT FindConnectionPoint(ConnectionPoint& point, REFIID riid, IConnectionPoint** found) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, found);
    *found = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, riid != point.Iid());
    *found = &point;
    point.AddRef();
    return S_OK;
}

inline HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, points);
    *points = nullptr;
    return E_NOTIMPL;
}

}  // namespace nj::com
