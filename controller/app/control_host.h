// Hosting of OLE controls on the main window: the client site the control
// asks for its ambient properties, the loading of its (empty) saved state,
// and an event sink connected through the control's connection point.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <functional>

#include "nj/com_object.h"
#include "plavox/plavox.h"

namespace nightjar::app {

using Microsoft::WRL::ComPtr;

// The container's side of one hosted control. The only ambient property it
// answers is UserMode, True: the program is running, not being designed.
class ControlSite final : public nj::com::UntypedDispatch<IOleClientSite, IDispatch, IOleControlSite> {
public:
    explicit ControlSite(HWND container) noexcept : container_(container) {}

    // IOleClientSite
    IFACEMETHODIMP SaveObject() override { return E_NOTIMPL; }
    IFACEMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    IFACEMETHODIMP GetContainer(IOleContainer** container) override;
    IFACEMETHODIMP ShowObject() override { return S_OK; }
    IFACEMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    IFACEMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IDispatch: ambient properties
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                          UINT*) override;

    // IOleControlSite
    IFACEMETHODIMP OnControlInfoChanged() override { return S_OK; }
    IFACEMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    IFACEMETHODIMP GetExtendedControl(IDispatch** control) override;
    IFACEMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    IFACEMETHODIMP OnFocus(BOOL) override { return S_OK; }
    IFACEMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

    HWND Container() const noexcept { return container_; }

private:
    HWND container_;
};

// The event argument of TrackChanged: a TrackDetail passed as VT_RECORD by
// reference, possibly wrapped in a VARIANT by reference. Null for anything else.
const plavox::TrackDetail* TrackDetailOf(const VARIANT& argument) noexcept;

// Receives the events of one outgoing dispinterface and hands each, with its
// arguments, to a handler; the handler's HRESULT goes back to the raiser.
class EventSink final : public nj::com::UntypedDispatch<IDispatch> {
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

// frmMain's part of __Plavox: TrackChanged hands its record on, every other
// event (PlayPositionChanged among them) is left alone.
HRESULT HandlePlavoxEvent(DISPID dispid, const DISPPARAMS& params,
                          const std::function<void(const plavox::TrackDetail&)>& on_track_changed);

// One control created from its registration and sited on the container.
// Destroying it disconnects the events and closes the control.
class HostedControl {
public:
    HostedControl() = default;
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;
    ~HostedControl() { Reset(); }

    // CoCreateInstance by CLSID, SetClientSite, then the saved state loaded
    // (IPersistPropertyBag from an empty bag, else IPersistStreamInit from an
    // empty stream), as a container does for a control placed at design time.
    HRESULT CreateFromRegistration(const CLSID& clsid, HWND container) noexcept;
    // Advises the sink on the control's connection point for `events`.
    HRESULT ConnectEvents(const IID& events, IUnknown* sink) noexcept;
    void Reset() noexcept;

    IDispatch* Dispatch() const noexcept { return dispatch_.Get(); }

private:
    HRESULT LoadSavedState() noexcept;

    ComPtr<ControlSite> site_;
    ComPtr<IOleObject> object_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<IConnectionPoint> events_;
    DWORD cookie_ = 0;
};

}  // namespace nightjar::app
