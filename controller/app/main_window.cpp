#include "main_window.h"

#include "ansi_code_page.h"
#include "dispatch_lines.h"
#include "line_control.h"
#include "nj/dispatch.h"
#include "nj/event_sink.h"
#include "nj/layout.h"
#include "nj/module.h"
#include "resource.h"
#include "tray_control.h"
#include "xfer.h"

namespace nightjar::app {
using namespace nj::layout;

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 4635, kClientHeight = 1650;  // twips

constexpr TwipsRect kImage1 = {120, 120, 480, 480};
constexpr TwipsRect kLabel1 = {720, 120, 3495, 375};
constexpr TwipsRect kLabel2 = {720, 360, 3495, 375};
constexpr TwipsRect kLabel3 = {120, 720, 4335, 1935};

constexpr wchar_t kCredit[] = L"by Ada Whitlock, 2003";
constexpr wchar_t kAboutNote[] =
    L"I wrote this so that I could start and stop my morning alarm music without getting out of bed. "
    L"Remember that the small companion program has to be running on your calculator. "
    L"Sorry, it only works with the black serial link cable; I had no USB or grey link cable to test it with. "
    L"Tip: pressing [2nd] on the calculator can show/hide this window.";

constexpr DISPID kTrayShowIcon = tray::kDispShowIcon;  // 0x6003000E

}  // namespace

ProgramIcons ProgramIcons::Load() noexcept
{
    const HINSTANCE instance = nj::CurrentModule();
    ProgramIcons icons;
    icons.large.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_NIGHTJAR), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                      0)));
    icons.small.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_NIGHTJAR), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXSMICON),
                                                      ::GetSystemMetrics(SM_CYSMICON), 0)));
    return icons;
}

HRESULT MainWindow::ShowAndLoad(std::int32_t port_number) noexcept
{
    const HRESULT hr = Create();
    if (FAILED(hr)) {
        // Nothing was shown; the chooser stays for another try.
        plavox_.Reset();
        tray_events_.reset();
        tray_.Reset();
        comm_.Reset();
        DestroySilently();
        return hr;
    }
    Load(port_number);
}

HRESULT MainWindow::Create() noexcept
{
    const int dpi = SystemDpi();
    const SIZE size = WindowSizeForClient(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi),
                                          kStyle, kExStyle);
    auto params = nj::WindowParams::TopLevel(L"Nightjar", kStyle, kExStyle, {CW_USEDEFAULT, CW_USEDEFAULT}, size);
    params.icon = icons_.large.get();
    RETURN_IF_FAILED(Window::Create(params));
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons_.large.get()));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons_.small.get()));
    CreateControls(dpi);
    return CreateHostedControls();
}

void MainWindow::CreateControls(int dpi) noexcept
{
    title_font_ = MakeFont(L"Tahoma", 825, true, dpi);
    text_font_ = MakeFont(L"Tahoma", 825, false, dpi);
    note_font_ = MakeFont(L"Tahoma", 675, false, dpi);

    const RECT image = ToPixels(kImage1, dpi);
    image_icon_.reset(static_cast<HICON>(::LoadImageW(nj::CurrentModule(), MAKEINTRESOURCEW(IDI_NIGHTJAR), IMAGE_ICON,
                                                      image.right - image.left, image.bottom - image.top, 0)));
    HWND image1 = CreateChild(Handle(), L"STATIC", L"", SS_ICON | SS_CENTERIMAGE | SS_REALSIZECONTROL, kImage1,
                              dpi, nullptr, IDC_IMAGE1);
    ::SendMessageW(image1, STM_SETICON, reinterpret_cast<WPARAM>(image_icon_.get()), 0);
    ::SetWindowPos(image1, nullptr, image.left, image.top, image.right - image.left, image.bottom - image.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    // In tab order; the about note runs past the client area's bottom edge.
    CreateChild(Handle(), L"STATIC", L"Nightjar", SS_LEFT | SS_NOPREFIX, kLabel1, dpi, title_font_.get(),
                IDC_LABEL1);
    CreateChild(Handle(), L"STATIC", kCredit, SS_LEFT | SS_NOPREFIX, kLabel2, dpi, text_font_.get(), IDC_LABEL2);
    CreateChild(Handle(), L"STATIC", kAboutNote, SS_LEFT | SS_NOPREFIX, kLabel3, dpi, note_font_.get(),
                IDC_LABEL3);
}

HRESULT MainWindow::CreateHostedControls() noexcept
{
    RETURN_IF_FAILED(serial::CreateLineControl(IID_PPV_ARGS(&comm_)));

    RETURN_IF_FAILED(tray::CreateTrayControl(IID_PPV_ARGS(&tray_)));
    const auto icon = static_cast<LONG>(reinterpret_cast<INT_PTR>(icons_.large.get()));
    RETURN_IF_FAILED(nj::dispatch::Put(tray_.Get(), tray::kDispIcon, nj::dispatch::I4(icon)));
    const auto on_tray_event = [this](DISPID dispid, const DISPPARAMS&) {
        // The first event; its one argument tells nothing we need.
        if (dispid == tray::kDispActivated) OnTrayActivated();
        return S_OK;
    };
    RETURN_IF_FAILED(nj::com::SinkEvents(tray_.Get(), tray::DIID_TrayEvents, on_tray_event, &tray_events_));

    RETURN_IF_FAILED(plavox_.CreateFromRegistration(plavox::CLSID_Plavox, Handle()));
    return plavox_.ConnectEvents(plavox::DIID___Plavox, [this](DISPID dispid, const DISPPARAMS& p) {
        return HandlePlavoxEvent(dispid, p, [this](const plavox::TrackDetail& d) { OnTrackChanged(d); });
    });
}

void MainWindow::Load(std::int32_t port_number) noexcept
{
    if (unload_chooser_) unload_chooser_();
    try {
        serial::OpenPort(*comm_.Get(), static_cast<short>(port_number));
        ShowOnScreen();
        PutUpTrayIcon();
        RunMainLoop();
    } catch (...) {
        // Every failure from here on takes this one path, whatever its cause.
        ::MessageBoxW(nullptr, L"Error opening port!", L"Error", MB_ICONHAND | MB_OK);
    }
    EndProgramNow();
}

void MainWindow::ShowOnScreen()
{
    shown_once_ = true;
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
    ::UpdateWindow(Handle());
}

void MainWindow::PutUpTrayIcon() { nj::dispatch::CallOrThrow(tray_.Get(), kTrayShowIcon); }

void MainWindow::RunMainLoop()
{
    serial::DispatchLines lines(comm_);
    link::Xfer xfer(lines, [this] { YieldToMessages(); });
    MainLoop(*this, xfer, lines, link::SystemAnsiCodeOf).Run();
}

void MainWindow::EndProgramNow() noexcept
{
    // The immediate end: no handler of ours runs any more. The tray control
    // still goes first so that its icon does not outlive the program.
    tray_events_.reset();
    tray_.Reset();
    ::ExitProcess(0);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message) {
    case WM_SIZE:
        OnSize(static_cast<UINT>(wparam));
        return DefaultHandling(message, wparam, lparam);
    case WM_CLOSE:
        OnClose();
        return 0;  // the close request is always cancelled
    default:
        return DefaultHandling(message, wparam, lparam);
    }
}

void MainWindow::OnSize(UINT state) noexcept
{
    if (!shown_once_) return;
    if (state == SIZE_MINIMIZED) {
        ::ShowWindow(Handle(), SW_HIDE);  // only the tray icon is left
    } else if (!::IsWindowVisible(Handle())) {
        ::ShowWindow(Handle(), SW_SHOW);
    }
}

void MainWindow::OnClose() noexcept
{
    bool open = false;
    if (SUCCEEDED(nj::dispatch::GetBool(comm_.Get(), serial::kDispPortOpen, &open)) && open)
        nj::dispatch::Put(comm_.Get(), serial::kDispPortOpen, nj::dispatch::Bool(false));
    StopRequested = -1;
}

void MainWindow::OnTrayActivated() noexcept
{
    if (::IsIconic(Handle())) ::ShowWindow(Handle(), SW_RESTORE);
    if (!::IsWindowVisible(Handle())) ::ShowWindow(Handle(), SW_SHOW);
    ::SetForegroundWindow(Handle());
}

void MainWindow::OnTrackChanged(const plavox::TrackDetail& detail) { CurrentTrack = TrackRecord(detail); }

void MainWindow::CallPlayer(std::int32_t dispid) { nj::dispatch::CallOrThrow(plavox_.Dispatch(), dispid); }

void MainWindow::ToggleVisibility()
{
    if (::IsWindowVisible(Handle())) {
        ::ShowWindow(Handle(), SW_HIDE);
    } else {
        // Shown in whatever state it is in: a minimised window stays minimised.
        ::ShowWindow(Handle(), ::IsIconic(Handle()) ? SW_SHOWMINNOACTIVE : SW_SHOW);
    }
}

void MainWindow::YieldToMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            StopRequested = -1;  // the session is ending: stop as on a close request
            continue;
        }
        if (::IsDialogMessageW(Handle(), &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace nightjar::app
