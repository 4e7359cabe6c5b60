#include "plavox_control.h"

#include "nj/dispatch.h"
#include "nj/result.h"

namespace plavox {
namespace {

nj::com::DispatchTypes PlavoxTypes(const ModuleState& module)
{
    return {module.types.plavox, module.types.plavoxVtable};
}

constexpr nj::com::ControlIdentity kPlavoxIdentity = {CLSID_Plavox, DIID___Plavox, kControlMiscStatus,
                                                      kExtentHimetric};

// Every object of a thread shares that thread's module state.
template <class T>
HRESULT CreateOnThisThread(REFIID riid, void** ppv) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    std::shared_ptr<ModuleState> module;
    RETURN_IF_FAILED(ModuleState::ForThisThread(module));
    return nj::com::CreateInstance<T>(riid, ppv, std::move(module));
}

}  // namespace

PlavoxControl::PlavoxControl(std::shared_ptr<ModuleState> module) noexcept
    : OleControl(PlavoxTypes(*module), module->types.plavoxClass, kPlavoxIdentity),
      module_(std::move(module)),
      events_(this, DIID___Plavox),
      poller_(*module_, *this)
{
}

PlavoxControl::~PlavoxControl()
{
    // Sinks may still hold us through the connection point; nothing reaches
    // them once the object is gone.
    events_.DisconnectAll();
}

HRESULT PlavoxControl::Create(REFIID riid, void** ppv) noexcept { return CreateOnThisThread<PlavoxControl>(riid, ppv); }

HRESULT PlavoxControl::Initialize() noexcept { return window_.Create(*this); }

// ---- Commands ------------------------------------------------------------

HRESULT PlavoxControl::Send(PlayerCommand command) noexcept { return SendPlayerCommand(*module_, command); }

HRESULT PlavoxControl::Shell(ShellVerb verb, BSTR* filename) noexcept
{
    return HandFileToShell(*module_, window_.Handle(), verb, filename);
}

HRESULT PlavoxControl::PlayTrack() { return Send(PlayerCommand::Play); }
HRESULT PlavoxControl::PauseTrack() { return Send(PlayerCommand::Pause); }
HRESULT PlavoxControl::StopTrack() { return Send(PlayerCommand::Stop); }
HRESULT PlavoxControl::NextTrack() { return Send(PlayerCommand::Next); }
HRESULT PlavoxControl::PrevTrack() { return Send(PlayerCommand::Previous); }
HRESULT PlavoxControl::SkipFwd() { return Send(PlayerCommand::SkipForward); }
HRESULT PlavoxControl::SkipBack() { return Send(PlayerCommand::SkipBack); }
HRESULT PlavoxControl::FadeAndStop() { return Send(PlayerCommand::FadeAndStop); }
HRESULT PlavoxControl::Shuffle() { return Send(PlayerCommand::Shuffle); }
HRESULT PlavoxControl::ClearPlaylist() { return Send(PlayerCommand::ClearPlaylist); }
HRESULT PlavoxControl::KillPlavox() { return Send(PlayerCommand::Close); }
HRESULT PlavoxControl::LaunchFile(BSTR* filename) { return Shell(ShellVerb::Play, filename); }
HRESULT PlavoxControl::Addfile(BSTR* filename) { return Shell(ShellVerb::Enqueue, filename); }

HRESULT PlavoxControl::get_Enabled(VARIANT_BOOL* value)
{
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = window_.TimerEnabled() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT PlavoxControl::put_Enabled(VARIANT_BOOL NewState)
{
    return nj::dispatch::IsTrue(NewState) ? window_.EnableTimer() : window_.DisableTimer();
}

// Loaded in a running container the timer starts; in a designer it stops.
void PlavoxControl::OnLoaded(bool userMode) noexcept
{
    if (userMode) {
        window_.EnableTimer();
    } else {
        window_.DisableTimer();
    }
}

// ---- Polling and events --------------------------------------------------

void PlavoxControl::OnTimerTick() noexcept
{
    Tick();
}

void PlavoxControl::Tick() noexcept
{
    // A sink may release the control from its handler; the tick finishes
    // first.
    ComPtr<_Plavox> keepAlive(this);
    poller_.Tick();
}

void PlavoxControl::RaiseTrackChanged(TrackDetail& detail) noexcept
{
    if (EventsFrozen()) return;
    VARIANT record;
    ::VariantInit(&record);
    record.vt = VT_RECORD | VT_BYREF;
    record.pvRecord = &detail;
    record.pRecInfo = module_->types.trackDetail.Get();
    DISPPARAMS params = {&record, nullptr, 1, 0};
    // Sinks see the record itself: what a handler writes into it stays.
    events_.Fire(DISPID_TrackChanged, params);
}

void PlavoxControl::RaisePlayPositionChanged(LONG seconds) noexcept
{
    if (EventsFrozen()) return;
    // A handler may write to the value; the write is not kept.
    LONG elapsed = seconds;
    VARIANT arg;
    ::VariantInit(&arg);
    arg.vt = VT_I4 | VT_BYREF;
    arg.plVal = &elapsed;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    events_.Fire(DISPID_PlayPositionChanged, params);
}

HRESULT PlavoxControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    return nj::com::EnumConnectionPoints(points);
}

HRESULT PlavoxControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    return nj::com::FindConnectionPoint(events_, riid, point);
}

// ---- clsPlavox -----------------------------------------------------------

ClsPlavox::ClsPlavox(std::shared_ptr<ModuleState> module) noexcept
    : TypedDispatch({module->types.clsPlavox, module->types.clsPlavoxVtable}), module_(std::move(module))
{
}

HRESULT ClsPlavox::Create(REFIID riid, void** ppv) noexcept { return CreateOnThisThread<ClsPlavox>(riid, ppv); }

HRESULT ClsPlavox::GetClassInfo(ITypeInfo** info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    return module_->types.library->GetTypeInfoOfGuid(CLSID_clsPlavox, info);
}

}  // namespace plavox
