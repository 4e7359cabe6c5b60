// plavoxsim.exe: a stand-in for the media player that Plavox drives. A window
// of the player's class whose title follows the current track, that obeys the
// player's WM_COMMAND numbers, answers its WM_USER queries and shows its state
// in its client area. With --log it appends every command, request and close
// request it receives to a file, one flushed line each.
//
// The helper verbs --send, --ask and --close talk to a running simulator, so
// scripts can change its track or read its state from outside.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "nj/text.h"
#include "nj/unique.h"
#include "nj/unix_time.h"
#include "nj/window_base.h"
#include "player.h"

namespace {

using plavoxsim::Options;
using plavoxsim::Player;
using plavoxsim::State;

constexpr const wchar_t* kClassName = plavox::player::kWindowClassW;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 200;
constexpr DWORD kHelperTimeoutMs = 5000;

int64_t Now() { return static_cast<int64_t>(GetTickCount64()); }

std::wstring MinutesAndSeconds(int64_t ms)
{
    const int64_t seconds = ms / 1000;
    wchar_t text[32];
    swprintf(text, 32, L"%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    return text;
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, FileCloser>;

class SimulatorWindow final : public nj::Window<SimulatorWindow> {
public:
    static constexpr const wchar_t* kClassName = ::kClassName;

    SimulatorWindow(const Options& options, unique_file log)
        : player_(plavoxsim::DefaultPlaylist(), Now()),
          forced_title_(options.title),
          log_(std::move(log)),
          log_times_(options.log_times)
    {
        player_.SelectTrack(options.track, Now());
        if (options.play) player_.HandleCommand(plavoxsim::kPlay, Now());
    }
    SimulatorWindow(const SimulatorWindow&) = delete;
    SimulatorWindow& operator=(const SimulatorWindow&) = delete;

    bool Create(HINSTANCE instance)
    {
        auto params = nj::WindowParams::TopLevel(L"", WS_OVERLAPPEDWINDOW, 0, {40, 40}, {440, 190});
        params.instance = instance;
        params.background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        if (FAILED(nj::Window<SimulatorWindow>::Create(params))) return false;
        UpdateTitle();
        SetTimer(Handle(), kRefreshTimer, kRefreshMs, nullptr);
        ShowWindow(Handle(), SW_SHOWNOACTIVATE);
        return true;
    }

    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam)
    {
        const HWND window = Handle();
        switch (message) {
        case WM_COMMAND:
            Log("WM_COMMAND", wparam, lparam);
            player_.HandleCommand(static_cast<int>(wparam), Now());
            Refresh();
            return 0;
        case WM_USER: {
            Log("WM_USER", wparam, lparam);
            const int32_t answer =
                player_.HandleRequest(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam), Now());
            Refresh();
            return answer;
        }
        case WM_CLOSE:
            Log("WM_CLOSE", wparam, lparam);
            KillTimer(window, kRefreshTimer);
            Destroy();
            return 0;
        case WM_TIMER:
            if (wparam == kRefreshTimer) Refresh();
            return 0;
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefaultHandling(message, wparam, lparam);
        }
    }

private:
    void Log(const char* message, WPARAM wparam, LPARAM lparam)
    {
        const int64_t arrived = nj::UnixNowMicroseconds();
        last_message_ = plavoxsim::LogLine(message, static_cast<uint32_t>(wparam), static_cast<int32_t>(lparam));
        last_message_.pop_back();  // the newline
        if (!log_) return;
        const std::string line =
            plavoxsim::LogLine(message, static_cast<uint32_t>(wparam), static_cast<int32_t>(lparam),
                               log_times_ ? std::optional<int64_t>(arrived) : std::nullopt);
        std::fwrite(line.data(), 1, line.size(), log_.get());
        std::fflush(log_.get());
    }

    void Refresh()
    {
        UpdateTitle();
        if (Handle()) InvalidateRect(Handle(), nullptr, TRUE);
    }

    void UpdateTitle()
    {
        const std::wstring title =
            forced_title_ ? nj::text::FromUtf8(*forced_title_) : nj::text::FromUtf8(player_.TitleAt(Now()));
        if (title == shown_title_ || !Handle()) return;
        SetWindowTextW(Handle(), title.c_str());
        shown_title_ = title;
    }

    std::vector<std::wstring> StatusLines(int64_t now)
    {
        std::vector<std::wstring> lines;
        const plavoxsim::Track* track = player_.CurrentTrack();
        if (!track) {
            lines.push_back(L"Playlist empty");
        } else {
            lines.push_back(L"Track " + std::to_wstring(*player_.CurrentIndex() + 1) + L" of " +
                            std::to_wstring(player_.TrackCount()) + L":  " + nj::text::FromUtf8(track->artist) +
                            L" \u2013 " + nj::text::FromUtf8(track->title));
        }
        const State state = player_.StateAt(now);
        std::wstring status = state == State::Playing ? L"Playing" : state == State::Paused ? L"Paused" : L"Stopped";
        if (track) {
            status += L"   " + MinutesAndSeconds(player_.PositionMsAt(now)) + L" / " +
                      MinutesAndSeconds(int64_t{track->length_s} * 1000);
        }
        if (player_.FadingAt(now)) status += L"   fading out";
        if (player_.Shuffle()) status += L"   shuffle";
        lines.push_back(status);
        if (forced_title_) lines.push_back(L"Title forced: " + nj::text::FromUtf8(*forced_title_));
        lines.push_back(L"Last message: " + (last_message_.empty() ? L"none" : nj::text::FromUtf8(last_message_)));
        return lines;
    }

    void OnPaint(HWND window)
    {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const int64_t now = Now();
        auto* old_font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        RECT client;
        GetClientRect(window, &client);

        int y = 10;
        for (const std::wstring& line : StatusLines(now)) {
            RECT row{12, y, client.right - 12, y + 20};
            DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &row,
                      DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | DT_VCENTER);
            y += 22;
        }
        if (const plavoxsim::Track* track = player_.CurrentTrack()) {
            // Progress through the track.
            RECT bar{12, y + 6, client.right - 12, y + 16};
            FrameRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
            const int64_t length = int64_t{track->length_s} * 1000;
            RECT done = bar;
            InflateRect(&done, -1, -1);
            done.right = done.left + static_cast<LONG>((done.right - done.left) * player_.PositionMsAt(now) / length);
            nj::unique_any<nj::null_handle_traits<HBRUSH, nj::delete_gdi_object>> fill(
                CreateSolidBrush(RGB(0x20, 0x80, 0x30)));
            if (fill && done.right > done.left) FillRect(dc, &done, fill.get());
        }
        SelectObject(dc, old_font);
        EndPaint(window, &paint);
    }

    Player player_;
    std::optional<std::string> forced_title_;
    unique_file log_;
    bool log_times_;
    std::wstring shown_title_;
    std::string last_message_;
};

// --send, --ask, --close: one message to the running simulator.
int RunHelper(const Options& options)
{
    HWND player = FindWindowW(kClassName, nullptr);
    if (!player) {
        std::fprintf(stderr, "plavoxsim: no simulator window is open\n");
        return 1;
    }
    UINT message = WM_CLOSE;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    if (options.send_command) {
        message = WM_COMMAND;
        wparam = static_cast<WPARAM>(*options.send_command);
    } else if (options.ask_lparam) {
        message = WM_USER;
        wparam = options.ask_wparam;
        lparam = static_cast<LPARAM>(*options.ask_lparam);
    }
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(player, message, wparam, lparam, SMTO_ABORTIFHUNG, kHelperTimeoutMs, &answer)) {
        std::fprintf(stderr, "plavoxsim: the simulator did not answer\n");
        return 1;
    }
    if (options.ask_lparam) std::printf("%ld\n", static_cast<long>(static_cast<int32_t>(answer)));
    return 0;
}

std::vector<std::string> Arguments()
{
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> argv(CommandLineToArgvW(GetCommandLineW(), &count), LocalFree);
    std::vector<std::string> args;
    for (int i = 1; argv && i < count; ++i) args.push_back(nj::text::ToUtf8(argv.get()[i]));
    return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    std::string error;
    const auto options = plavoxsim::ParseOptions(Arguments(), error);
    if (!options) {
        std::fprintf(stderr, "plavoxsim: %s\n%s", error.c_str(), plavoxsim::kUsage);
        return 2;
    }
    if (options->IsHelper()) return RunHelper(*options);
    if (options->track > plavoxsim::DefaultPlaylist().size()) {
        std::fprintf(stderr, "plavoxsim: the playlist has %zu tracks\n", plavoxsim::DefaultPlaylist().size());
        return 2;
    }

    unique_file log;
    if (!options->log_path.empty()) {
        log.reset(_wfopen(nj::text::FromUtf8(options->log_path).c_str(), L"ab"));
        if (!log) {
            std::fprintf(stderr, "plavoxsim: cannot open the log %s\n", options->log_path.c_str());
            return 2;
        }
    }

    SimulatorWindow simulator(*options, std::move(log));
    if (!simulator.Create(instance)) {
        std::fprintf(stderr, "plavoxsim: cannot create the player window\n");
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
