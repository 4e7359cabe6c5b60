// The receiving side of a control's events: a sink that hands every event to
// a handler, and the connection that keeps it advised.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <utility>

#include "nj/com_object.h"

namespace nj::com {

// One Advise on a connection point; Unadvise on reset and destruction.
class unique_advise {
public:
    unique_advise() noexcept = default;
    unique_advise(ComPtr<IConnectionPoint> point, DWORD cookie) noexcept : point_(std::move(point)), cookie_(cookie)
    {
    }
    unique_advise(unique_advise&& other) noexcept
        : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0))
    {
    }
    unique_advise& operator=(unique_advise&& other) noexcept
    {
        if (this != &other) {
            reset();
            point_ = std::move(other.point_);
            cookie_ = std::exchange(other.cookie_, 0);
        }
        return *this;
    }
    unique_advise(const unique_advise&) = delete;
    unique_advise& operator=(const unique_advise&) = delete;
    ~unique_advise() { reset(); }

    explicit operator bool() const noexcept { return point_ != nullptr; }
    DWORD cookie() const noexcept { return cookie_; }

    // The guard is empty before the point hears of it: a sink released by
    // Unadvise may reach this guard again from its destructor.
    void reset() noexcept
    {
        ComPtr<IConnectionPoint> point = std::move(point_);
        const DWORD cookie = std::exchange(cookie_, 0);
        if (point) point->Unadvise(cookie);
    }

    // Disconnects whatever was connected, then advises `sink` on `point`.
    HRESULT Advise(IConnectionPoint* point, IUnknown* sink) noexcept;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Receives the events of one outgoing dispinterface and hands each, with its
// arguments, to a handler; the handler's HRESULT goes back to the raiser.
// Answers QueryInterface for the event interface's own IID, as sources ask.
class EventSink final : public UntypedDispatch<IDispatch> {
public:
    using Handler = std::function<HRESULT(DISPID, const DISPPARAMS&)>;
    EventSink(const IID& events, Handler handler) : events_(events), handler_(std::move(handler)) {}

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT*) override;

protected:
    void* QueryOther(REFIID riid) noexcept override;

private:
    IID events_;
    Handler handler_;
};

// Finds the source's connection point for `events` and connects a new sink
// that calls `handler`, until the guard disconnects it.
HRESULT SinkEvents(IUnknown* source, const IID& events, EventSink::Handler handler,
                   unique_advise* connection) noexcept;

}  // namespace nj::com
