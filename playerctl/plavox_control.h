// The Plavox control: the player commands, the status polling with its two
// events, and what a container needs to site, load and drive the control.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>

#include "host_window.h"
#include "mdl_plavox.h"
#include "nj/connection_point.h"
#include "nj/ole_control.h"
#include "nj/typed_dispatch.h"
#include "plavox/plavox.h"
#include "status_poller.h"

namespace plavox {

// The fixed size, 250 by 250 twips, in the HIMETRIC units OLE speaks.
inline constexpr LONG kExtentHimetric = 441;

class PlavoxControl final : public nj::com::OleControl<_Plavox, IConnectionPointContainer>,
                            private TimerTarget,
                            private StatusEvents {
public:
    explicit PlavoxControl(std::shared_ptr<ModuleState> module) noexcept;

    static HRESULT Create(REFIID riid, void** ppv) noexcept;
    // Creates the control's window, once the object is whole.
    HRESULT Initialize() noexcept;

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

    // IConnectionPointContainer
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // One polling step, as the timer runs it.
    void Tick() noexcept;

    HWND Window() const noexcept { return window_.Handle(); }

private:
    ~PlavoxControl() override;

    void OnTimerTick() noexcept override;
    void OnLoaded(bool userMode) noexcept override;
    void RaiseTrackChanged(TrackDetail& detail) noexcept override;
    void RaisePlayPositionChanged(LONG seconds) noexcept override;

    HRESULT Send(PlayerCommand command) noexcept;
    HRESULT Shell(ShellVerb verb, BSTR* filename) noexcept;

    std::shared_ptr<ModuleState> module_;
    HostWindow window_;
    nj::com::ConnectionPoint events_;
    StatusPoller poller_;
};

// The member-less public class clsPlavox.
class ClsPlavox final : public nj::com::TypedDispatch<_clsPlavox, IProvideClassInfo> {
public:
    explicit ClsPlavox(std::shared_ptr<ModuleState> module) noexcept;

    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override;

private:
    std::shared_ptr<ModuleState> module_;
};

}  // namespace plavox
