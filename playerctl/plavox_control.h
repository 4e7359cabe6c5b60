// The Plavox control: the player commands, the status polling with its two
// events, and what a container needs to site, load and drive the control.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>

#include "host_window.h"
#include "mdl_plavox.h"
#include "nj/com_object.h"
#include "nj/connection_point.h"
#include "plavox/plavox.h"

namespace plavox {

struct TypedDispatch;

// The fixed size, 250 by 250 twips, in the HIMETRIC units OLE speaks.
inline constexpr LONG kExtentHimetric = 441;

// The shell call of LaunchFile and Addfile; tests replace it to see what
// the shell would have been handed.
using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
extern ShellExecuteFn g_shellExecute;

class PlavoxControl final
    : public nj::com::Object<_Plavox, IProvideClassInfo2, IConnectionPointContainer, IOleObject, IOleControl,
                             IPersistStreamInit, IPersistPropertyBag>,
      private TimerTarget {
public:
    PlavoxControl() noexcept;

    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    // _Plavox
    IFACEMETHODIMP PlayTrack() override;
    IFACEMETHODIMP PauseTrack() override;
    IFACEMETHODIMP StopTrack() override;
    IFACEMETHODIMP NextTrack() override;
    IFACEMETHODIMP PrevTrack() override;
    IFACEMETHODIMP SkipFwd() override;
    IFACEMETHODIMP SkipBack() override;
    IFACEMETHODIMP FadeAndStop() override;
    IFACEMETHODIMP Shuffle() override;
    IFACEMETHODIMP LaunchFile(BSTR* filename) override;
    IFACEMETHODIMP Addfile(BSTR* filename) override;
    IFACEMETHODIMP ClearPlaylist() override;
    IFACEMETHODIMP KillPlavox() override;
    IFACEMETHODIMP get_Enabled(VARIANT_BOOL* value) override;
    IFACEMETHODIMP put_Enabled(VARIANT_BOOL NewState) override;

    // IDispatch
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* argError) override;

    // IProvideClassInfo2
    IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override;
    IFACEMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IOleObject
    IFACEMETHODIMP SetClientSite(IOleClientSite* site) override;
    IFACEMETHODIMP GetClientSite(IOleClientSite** site) override;
    IFACEMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    IFACEMETHODIMP Close(DWORD saveOption) override;
    IFACEMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    IFACEMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    IFACEMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    IFACEMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    IFACEMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                          LPCRECT rect) override;
    IFACEMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    IFACEMETHODIMP Update() override;
    IFACEMETHODIMP IsUpToDate() override;
    IFACEMETHODIMP GetUserClassID(CLSID* clsid) override;
    IFACEMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    IFACEMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    IFACEMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    IFACEMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    IFACEMETHODIMP Unadvise(DWORD connection) override;
    IFACEMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
    IFACEMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    IFACEMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleControl
    IFACEMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    IFACEMETHODIMP OnMnemonic(MSG* msg) override;
    IFACEMETHODIMP OnAmbientPropertyChange(DISPID dispid) override;
    IFACEMETHODIMP FreezeEvents(BOOL freeze) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    IFACEMETHODIMP GetClassID(CLSID* clsid) override;
    IFACEMETHODIMP IsDirty() override;
    IFACEMETHODIMP Load(IStream* stream) override;
    IFACEMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    IFACEMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    IFACEMETHODIMP InitNew() override;
    IFACEMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    IFACEMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // One polling step, as the timer runs it.
    void Tick() noexcept;

    HWND Window() const noexcept { return window_.Handle(); }

private:
    ~PlavoxControl() override;

    HRESULT Initialize() noexcept;
    void* QueryOther(REFIID riid) noexcept override;
    TypedDispatch Dispatch() const noexcept;
    void OnTimerTick() noexcept override;

    HRESULT SendPlayerMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;
    HRESULT ShellVerb(const char* verb, BSTR* filename) noexcept;

    PlavoxPlayStatus GetPlayStatus() noexcept;
    void CheckTrackTitle();
    void ParseTrackTitle(std::wstring& title);
    void RaiseTrackChanged() noexcept;
    void RaisePlayPositionChanged(LONG seconds) noexcept;
    void ApplyLoadedState() noexcept;
    bool AmbientUserModeIsTrue() const noexcept;

    std::shared_ptr<ModuleState> module_;
    HostWindow window_;
    nj::com::ConnectionPoint events_;
    ComPtr<IOleClientSite> site_;
    ComPtr<IOleAdviseHolder> adviseHolder_;
    long freezeCount_ = 0;
    bool ticking_ = false;
};

// The member-less public class clsPlavox.
class ClsPlavox final : public nj::com::Object<_clsPlavox, IProvideClassInfo> {
public:
    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* argError) override;
    IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override;

private:
    void* QueryOther(REFIID riid) noexcept override;
    TypedDispatch Dispatch() const noexcept;

    std::shared_ptr<ModuleState> module_;
};

}  // namespace plavox
