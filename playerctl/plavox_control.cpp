#include "plavox_control.h"

#include <shellapi.h>

#include "nj/result.h"
#include "nj/unique.h"
#include "title_parser.h"

namespace plavox {

ShellExecuteFn g_shellExecute = ::ShellExecuteA;

namespace {

// The player's own command numbers (WM_COMMAND wParam).
constexpr WPARAM kCmdPlay = 40045;
constexpr WPARAM kCmdPause = 40046;
constexpr WPARAM kCmdStop = 40047;
constexpr WPARAM kCmdNext = 40048;
constexpr WPARAM kCmdPrevious = 40044;
constexpr WPARAM kCmdSkipForward = 40148;
constexpr WPARAM kCmdSkipBack = 40144;
constexpr WPARAM kCmdFadeAndStop = 40147;
constexpr WPARAM kCmdShuffle = 40023;
constexpr LPARAM kRequestClearPlaylist = 101;

constexpr LONG kAnswerPlaying = 1;
constexpr LONG kAnswerPaused = 3;

// Keeps a tick from running inside another: a sink that pumps messages
// from its handler would otherwise start the next tick within this one.
class TickGuard {
public:
    explicit TickGuard(bool& flag) noexcept : flag_(flag), entered_(!flag) { flag_ = true; }
    TickGuard(const TickGuard&) = delete;
    TickGuard& operator=(const TickGuard&) = delete;
    ~TickGuard()
    {
        if (entered_) flag_ = false;
    }
    bool Entered() const noexcept { return entered_; }

private:
    bool& flag_;
    bool entered_;
};

HRESULT HandOut(ITypeInfo* info, ITypeInfo** out) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = info;
    if (info) info->AddRef();
    return info ? S_OK : E_UNEXPECTED;
}


}  // namespace

// IDispatch answered from a dual interface's type information: the
// interface's own type for hosts that ask, its vtable view for names and
// calls (Invoke then calls the object through its vtable).
struct TypedDispatch {
    ITypeInfo* type;
    ITypeInfo* vtable;

    static HRESULT TypeInfoCount(UINT* count) noexcept
    {
        RETURN_HR_IF_NULL(E_POINTER, count);
        *count = 1;
        return S_OK;
    }
    HRESULT TypeInfo(UINT index, ITypeInfo** info) const noexcept
    {
        RETURN_HR_IF_NULL(E_POINTER, info);
        *info = nullptr;
        RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
        return HandOut(type, info);
    }
    HRESULT IDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const noexcept
    {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        return ::DispGetIDsOfNames(vtable, names, count, ids);
    }
    HRESULT Invoke(IDispatch* self, DISPID dispid, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) const noexcept
    {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        RETURN_HR_IF_NULL(E_INVALIDARG, params);
        return vtable->Invoke(self, dispid, flags, params, result, exception, argError);
    }
};

TypedDispatch PlavoxControl::Dispatch() const noexcept
{
    return {module_->types.plavox.Get(), module_->types.plavoxVtable.Get()};
}

TypedDispatch ClsPlavox::Dispatch() const noexcept
{
    return {module_->types.clsPlavox.Get(), module_->types.clsPlavoxVtable.Get()};
}

PlavoxControl::PlavoxControl() noexcept : events_(this, DIID___Plavox) {}

PlavoxControl::~PlavoxControl()
{
    // Sinks may still hold us through the connection point; nothing reaches
    // them once the object is gone.
    events_.DisconnectAll();
}

HRESULT PlavoxControl::Create(REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    auto control = nj::com::Make<PlavoxControl>();
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, control.Get());
    RETURN_IF_FAILED(control->Initialize());
    return control->QueryInterface(riid, ppv);
}

HRESULT PlavoxControl::Initialize() noexcept
{
    RETURN_IF_FAILED(ModuleState::ForThisThread(module_));
    return window_.Create(*this);
}

void* PlavoxControl::QueryOther(REFIID riid) noexcept
{
    if (riid == IID_IDispatch) return static_cast<_Plavox*>(this);
    if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo2*>(this);
    if (riid == IID_IPersist) return static_cast<IPersistStreamInit*>(this);
    return nullptr;
}

// ---- Commands ------------------------------------------------------------

HRESULT PlavoxControl::SendPlayerMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    if (HWND player = FindPlayer(*module_)) ::SendMessageA(player, message, wparam, lparam);
    return S_OK;
}

HRESULT PlavoxControl::ShellVerb(const char* verb, BSTR* filename) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, filename);
    HWND owner = window_.Handle();
    RETURN_HR_IF_NULL(E_UNEXPECTED, owner);
    try {
        const std::string ansi = ToAnsi(*filename, ::SysStringLen(*filename));
        g_shellExecute(owner, verb, ansi.c_str(), "", "", SW_HIDE);
        const std::wstring back = FromAnsi(ansi.data(), ansi.size());
        return AssignBstr(*filename, back);
    }
    NJ_CATCH_RETURN()
}

HRESULT PlavoxControl::PlayTrack() { return SendPlayerMessage(WM_COMMAND, kCmdPlay, 0); }
HRESULT PlavoxControl::PauseTrack() { return SendPlayerMessage(WM_COMMAND, kCmdPause, 0); }
HRESULT PlavoxControl::StopTrack() { return SendPlayerMessage(WM_COMMAND, kCmdStop, 0); }
HRESULT PlavoxControl::NextTrack() { return SendPlayerMessage(WM_COMMAND, kCmdNext, 0); }
HRESULT PlavoxControl::PrevTrack() { return SendPlayerMessage(WM_COMMAND, kCmdPrevious, 0); }
HRESULT PlavoxControl::SkipFwd() { return SendPlayerMessage(WM_COMMAND, kCmdSkipForward, 0); }
HRESULT PlavoxControl::SkipBack() { return SendPlayerMessage(WM_COMMAND, kCmdSkipBack, 0); }
HRESULT PlavoxControl::FadeAndStop() { return SendPlayerMessage(WM_COMMAND, kCmdFadeAndStop, 0); }
HRESULT PlavoxControl::Shuffle() { return SendPlayerMessage(WM_COMMAND, kCmdShuffle, 0); }
HRESULT PlavoxControl::ClearPlaylist() { return SendPlayerMessage(WM_USER, 0, kRequestClearPlaylist); }
HRESULT PlavoxControl::KillPlavox() { return SendPlayerMessage(WM_CLOSE, 0, 0); }
HRESULT PlavoxControl::LaunchFile(BSTR* filename) { return ShellVerb("play", filename); }
HRESULT PlavoxControl::Addfile(BSTR* filename) { return ShellVerb("enqueue", filename); }

HRESULT PlavoxControl::get_Enabled(VARIANT_BOOL* value)
{
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = window_.TimerEnabled() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT PlavoxControl::put_Enabled(VARIANT_BOOL NewState)
{
    return NewState != 0 ? window_.EnableTimer() : window_.DisableTimer();
}

// ---- Polling -------------------------------------------------------------

void PlavoxControl::OnTimerTick() noexcept
{
    Tick();
}

void PlavoxControl::Tick() noexcept
{
    // A sink may release the control from its handler; the tick finishes
    // first (and the guard is let go before the control can go).
    ComPtr<_Plavox> keepAlive(this);
    TickGuard guard(ticking_);
    if (!guard.Entered()) return;
    try {
        CheckTrackTitle();
        const PlavoxPlayStatus first = GetPlayStatus();
        const PlavoxPlayStatus second = GetPlayStatus();
        if (first != Playing && second != Paused) return;

        const LONG ms = QueryPlayer(module_->PlayerWindow, 0, kQueryPosition);
        TrackDetail& detail = module_->CurrentDetail;
        if (FAILED(AssignBstr(detail.CurrentPos, DecimalText(ms)))) return;
        RaisePlayPositionChanged(SecondsFromMilliseconds(ms));
    } catch (...) {
        // Out of memory: this tick is lost, the next one starts afresh.
    }
}

PlavoxPlayStatus PlavoxControl::GetPlayStatus() noexcept
{
    HWND player = FindPlayer(*module_);
    if (!player) return Stopped;
    switch (QueryPlayer(player, 0, kQueryPlayState)) {
    case kAnswerPlaying:
        return Playing;
    case kAnswerPaused:
        return Paused;
    default:
        return Stopped;
    }
}

void PlavoxControl::CheckTrackTitle()
{
    HWND player = FindPlayer(*module_);
    if (!player) {
        TrackDetail& detail = module_->CurrentDetail;
        AssignBstr(detail.Artist, L"", 0);
        AssignBstr(detail.CurrentPos, L"0", 1);
        AssignBstr(detail.Freq, L"", 0);
        detail.Length = 0;
        AssignBstr(detail.Rate, L"", 0);
        detail.Status = Error;
        AssignBstr(detail.Title, L"", 0);
        AssignBstr(detail.TrackNumber, L"", 0);
        RaiseTrackChanged();
        RaisePlayPositionChanged(0);
        return;
    }
    std::wstring title = ReadPlayerTitle(player);
    if (!TitleWantsParse(title, module_->LastTitle)) return;
    ParseTrackTitle(title);
}

void PlavoxControl::ParseTrackTitle(std::wstring& title)
{
    ModuleState& state = *module_;
    TrackDetail& detail = state.CurrentDetail;
    state.LastTitle = title;

    const TitleParts parts = SplitTrackTitle(title);
    if (parts.hasTrackNumber) AssignBstr(detail.TrackNumber, parts.trackNumber);
    if (parts.isFileName) return;
    AssignBstr(detail.Artist, parts.artist);
    AssignBstr(detail.Title, parts.title);

    HWND player = state.PlayerWindow;
    AssignBstr(detail.Rate, DecimalText(QueryPlayer(player, 1, kQueryAudioInfo)));
    AssignBstr(detail.Freq, DecimalText(QueryPlayer(player, 0, kQueryAudioInfo)));
    detail.Length = QueryPlayer(player, 1, kQueryPosition);
    RaiseTrackChanged();
}

void PlavoxControl::RaiseTrackChanged() noexcept
{
    if (freezeCount_ > 0) return;
    VARIANT detail;
    ::VariantInit(&detail);
    detail.vt = VT_RECORD | VT_BYREF;
    detail.pvRecord = &module_->CurrentDetail;
    detail.pRecInfo = module_->types.trackDetail.Get();
    DISPPARAMS params = {&detail, nullptr, 1, 0};
    // Sinks see the record itself: what a handler writes into it stays.
    events_.Fire(DISPID_TrackChanged, params);
}

void PlavoxControl::RaisePlayPositionChanged(LONG seconds) noexcept
{
    if (freezeCount_ > 0) return;
    // A handler may write to the value; the write is not kept.
    LONG elapsed = seconds;
    VARIANT arg;
    ::VariantInit(&arg);
    arg.vt = VT_I4 | VT_BYREF;
    arg.plVal = &elapsed;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    events_.Fire(DISPID_PlayPositionChanged, params);
}

// ---- Loading -------------------------------------------------------------

bool PlavoxControl::AmbientUserModeIsTrue() const noexcept
{
    if (!site_) return false;
    ComPtr<IDispatch> ambient;
    if (FAILED(site_.As(&ambient))) return false;
    DISPPARAMS none = {};
    nj::unique_variant value;
    if (FAILED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               &value, nullptr, nullptr))) {
        return false;
    }
    if (FAILED(::VariantChangeType(&value, &value, 0, VT_I4))) return false;
    return value.lVal == VARIANT_TRUE;
}

void PlavoxControl::ApplyLoadedState() noexcept
{
    if (AmbientUserModeIsTrue()) {
        window_.EnableTimer();
    } else {
        window_.DisableTimer();
    }
}

HRESULT PlavoxControl::GetClassID(CLSID* clsid)
{
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = CLSID_Plavox;
    return S_OK;
}

HRESULT PlavoxControl::IsDirty() { return S_FALSE; }

HRESULT PlavoxControl::Load(IStream* stream)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    ApplyLoadedState();
    return S_OK;
}

HRESULT PlavoxControl::Save(IStream* stream, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    return S_OK;
}

HRESULT PlavoxControl::GetSizeMax(ULARGE_INTEGER* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    size->QuadPart = 0;
    return S_OK;
}

// A new instance keeps its timer disabled: nothing to read, nothing to set.
HRESULT PlavoxControl::InitNew() { return S_OK; }

HRESULT PlavoxControl::Load(IPropertyBag* bag, IErrorLog*)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    ApplyLoadedState();
    return S_OK;
}

HRESULT PlavoxControl::Save(IPropertyBag* bag, BOOL, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    return S_OK;
}

// ---- IDispatch and type information ----------------------------------------

HRESULT PlavoxControl::GetTypeInfoCount(UINT* count) { return TypedDispatch::TypeInfoCount(count); }

HRESULT PlavoxControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    return Dispatch().TypeInfo(index, info);
}

HRESULT PlavoxControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return Dispatch().IDsOfNames(riid, names, count, ids);
}

HRESULT PlavoxControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argError)
{
    return Dispatch().Invoke(static_cast<_Plavox*>(this), dispid, riid, flags, params, result, exception, argError);
}

HRESULT PlavoxControl::GetClassInfo(ITypeInfo** info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    return HandOut(module_->types.plavoxClass.Get(), info);
}

HRESULT PlavoxControl::GetGUID(DWORD kind, GUID* guid)
{
    RETURN_HR_IF_NULL(E_POINTER, guid);
    *guid = GUID_NULL;
    RETURN_HR_IF(E_INVALIDARG, kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID);
    *guid = DIID___Plavox;
    return S_OK;
}

// ---- Connection points ---------------------------------------------------

HRESULT PlavoxControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    RETURN_HR_IF_NULL(E_POINTER, points);
    *points = nullptr;
    return E_NOTIMPL;
}

HRESULT PlavoxControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    RETURN_HR_IF_NULL(E_POINTER, point);
    *point = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, riid != DIID___Plavox);
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// ---- IOleObject ----------------------------------------------------------

HRESULT PlavoxControl::SetClientSite(IOleClientSite* site)
{
    site_ = site;
    return S_OK;
}

HRESULT PlavoxControl::GetClientSite(IOleClientSite** site)
{
    RETURN_HR_IF_NULL(E_POINTER, site);
    return site_.CopyTo(site);
}

HRESULT PlavoxControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT PlavoxControl::Close(DWORD) { return S_OK; }

HRESULT PlavoxControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT PlavoxControl::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT PlavoxControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT PlavoxControl::GetClipboardData(DWORD, IDataObject** data)
{
    RETURN_HR_IF_NULL(E_POINTER, data);
    *data = nullptr;
    return E_NOTIMPL;
}

// The control has nothing to show or activate; the standard verbs succeed
// without doing anything.
HRESULT PlavoxControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT)
{
    if (verb > 0) return OLEOBJ_S_INVALIDVERB;
    if (verb < OLEIVERB_DISCARDUNDOSTATE) return E_NOTIMPL;
    return S_OK;
}

HRESULT PlavoxControl::EnumVerbs(IEnumOLEVERB** verbs)
{
    RETURN_HR_IF_NULL(E_POINTER, verbs);
    *verbs = nullptr;
    return OLE_S_USEREG;
}

HRESULT PlavoxControl::Update() { return S_OK; }
HRESULT PlavoxControl::IsUpToDate() { return S_OK; }

HRESULT PlavoxControl::GetUserClassID(CLSID* clsid)
{
    return GetClassID(clsid);
}

HRESULT PlavoxControl::GetUserType(DWORD, LPOLESTR* type)
{
    RETURN_HR_IF_NULL(E_POINTER, type);
    *type = nullptr;
    return OLE_S_USEREG;
}

// Whatever size the host asks for, the control stays 250 by 250 twips.
HRESULT PlavoxControl::SetExtent(DWORD aspect, SIZEL* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
    return S_OK;
}

HRESULT PlavoxControl::GetExtent(DWORD aspect, SIZEL* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
    size->cx = kExtentHimetric;
    size->cy = kExtentHimetric;
    return S_OK;
}

HRESULT PlavoxControl::Advise(IAdviseSink* sink, DWORD* connection)
{
    RETURN_HR_IF_NULL(E_POINTER, connection);
    *connection = 0;
    if (!adviseHolder_) RETURN_IF_FAILED(::CreateOleAdviseHolder(&adviseHolder_));
    return adviseHolder_->Advise(sink, connection);
}

HRESULT PlavoxControl::Unadvise(DWORD connection)
{
    RETURN_HR_IF(OLE_E_NOCONNECTION, !adviseHolder_);
    return adviseHolder_->Unadvise(connection);
}

HRESULT PlavoxControl::EnumAdvise(IEnumSTATDATA** advises)
{
    RETURN_HR_IF_NULL(E_POINTER, advises);
    *advises = nullptr;
    RETURN_HR_IF(S_OK, !adviseHolder_);
    return adviseHolder_->EnumAdvise(advises);
}

HRESULT PlavoxControl::GetMiscStatus(DWORD, DWORD* status)
{
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = kControlMiscStatus;
    return S_OK;
}

HRESULT PlavoxControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleControl ---------------------------------------------------------

HRESULT PlavoxControl::GetControlInfo(CONTROLINFO* info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    RETURN_HR_IF(E_INVALIDARG, info->cb < sizeof(CONTROLINFO));
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT PlavoxControl::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT PlavoxControl::OnAmbientPropertyChange(DISPID) { return S_OK; }

// While the container holds events frozen, the events of ticks are dropped.
HRESULT PlavoxControl::FreezeEvents(BOOL freeze)
{
    if (freeze) {
        ++freezeCount_;
    } else if (freezeCount_ > 0) {
        --freezeCount_;
    }
    return S_OK;
}

// ---- clsPlavox -----------------------------------------------------------

HRESULT ClsPlavox::Create(REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    auto object = nj::com::Make<ClsPlavox>();
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, object.Get());
    RETURN_IF_FAILED(ModuleState::ForThisThread(object->module_));
    return object->QueryInterface(riid, ppv);
}

void* ClsPlavox::QueryOther(REFIID riid) noexcept
{
    return riid == IID_IDispatch ? static_cast<_clsPlavox*>(this) : nullptr;
}

HRESULT ClsPlavox::GetTypeInfoCount(UINT* count) { return TypedDispatch::TypeInfoCount(count); }

HRESULT ClsPlavox::GetTypeInfo(UINT index, LCID, ITypeInfo** info) { return Dispatch().TypeInfo(index, info); }

HRESULT ClsPlavox::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return Dispatch().IDsOfNames(riid, names, count, ids);
}

HRESULT ClsPlavox::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* argError)
{
    return Dispatch().Invoke(static_cast<_clsPlavox*>(this), dispid, riid, flags, params, result, exception,
                             argError);
}

HRESULT ClsPlavox::GetClassInfo(ITypeInfo** info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    return module_->types.library->GetTypeInfoOfGuid(CLSID_clsPlavox, info);
}

}  // namespace plavox
