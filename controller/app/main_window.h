// frmMain: the program's lasting window. It carries the three hosted
// controls (serial line control, tray control, Plavox), runs the load step
// and MainLoop, hides to the tray when minimised and stops on a close request.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "control_host.h"
#include "main_loop.h"
#include "nj/event_sink.h"
#include "nj/unique.h"
#include "track_record.h"
#include "nj/window_base.h"

namespace nightjar::app {

// The program icon in the sizes the windows use; owned for the program's life.
struct ProgramIcons {
    nj::unique_hicon large;  // 32x32 at 96 DPI: window, Image1, tray
    nj::unique_hicon small;  // 16x16: caption and taskbar
    static ProgramIcons Load() noexcept;
};

class MainWindow final : public nj::Window<MainWindow>, private LoopWindow {
public:
    static constexpr wchar_t kClassName[] = L"NightjarMain";

    // Members of frmMain used by the loop and its handlers.
    TrackRecord CurrentTrack;
    TrackRecord LastSentTrack;
    std::int16_t StopRequested = 0;  // -1 once a close request was handled

    MainWindow(const ProgramIcons& icons, std::function<void()> unload_chooser) noexcept
        : icons_(icons), unload_chooser_(std::move(unload_chooser))
    {
    }

    // Creates the window with its controls and hosted controls, then runs the
    // load step, which never returns. Returns only when the creation failed
    // (nothing has been shown and no port touched then).
    HRESULT ShowAndLoad(std::int32_t port_number) noexcept;

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

private:
    HRESULT Create() noexcept;
    void CreateControls(int dpi) noexcept;
    HRESULT CreateHostedControls() noexcept;
    [[noreturn]] void Load(std::int32_t port_number) noexcept;
    void ShowOnScreen();
    void PutUpTrayIcon();
    void RunMainLoop();
    [[noreturn]] void EndProgramNow() noexcept;

    void OnSize(UINT state) noexcept;
    void OnClose() noexcept;
    void OnTrayActivated() noexcept;
    void OnTrackChanged(const plavox::TrackDetail& detail);

    // LoopWindow
    bool StopWasRequested() const override { return StopRequested == -1; }
    void TakePassRecord() override { pass_track_ = CurrentTrack; }
    std::u16string_view PassTitle() const override { return pass_track_.Title(); }
    std::u16string_view PassArtist() const override { return pass_track_.Artist(); }
    std::u16string_view LastSentTitle() const override { return LastSentTrack.Title(); }
    void KeepPassRecordAsLastSent() override { LastSentTrack = std::move(pass_track_); }
    void CallPlayer(std::int32_t dispid) override;
    void ToggleVisibility() override;
    void YieldToMessages() override;

    const ProgramIcons& icons_;
    std::function<void()> unload_chooser_;
    nj::unique_hfont title_font_, text_font_, note_font_;
    nj::unique_hicon image_icon_;
    bool shown_once_ = false;  // resize events count only once the load step has shown the window

    ComPtr<IDispatch> comm_;  // MSComm
    ComPtr<IDispatch> tray_;  // Tray
    nj::com::unique_advise tray_events_;
    HostedControl plavox_;    // Plavox
    TrackRecord pass_track_;
};

}  // namespace nightjar::app
