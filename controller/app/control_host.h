// Hosting of OLE controls on the main window: the client site the control
// asks for its ambient properties, the loading of its (empty) saved state,
// and its events, sunk through the control's connection point.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <functional>

#include "nj/com_object.h"
#include "nj/event_sink.h"
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
    // Sinks the control's `events` into the handler until Reset.
    HRESULT ConnectEvents(const IID& events, nj::com::EventSink::Handler handler) noexcept;
    void Reset() noexcept;

    IDispatch* Dispatch() const noexcept { return dispatch_.Get(); }

private:
    HRESULT LoadSavedState() noexcept;

    ComPtr<ControlSite> site_;
    ComPtr<IOleObject> object_;
    ComPtr<IDispatch> dispatch_;
    nj::com::unique_advise events_;
};

}  // namespace nightjar::app
