// nj-mpris-bridge.exe: stands in for the media player's window while a
// media player on the Linux desktop, reached through nj-mpris-helper, does
// the playing.
//
//   nj-mpris-bridge.exe --port N        (or NJ_MPRIS_PORT=N)
//
// The helper's token comes from NJ_MPRIS_TOKEN. The log goes to standard error.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "bridge_app.h"

namespace {

class WinsockSession {
public:
    WinsockSession() noexcept
    {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    ~WinsockSession()
    {
        if (started_) ::WSACleanup();
    }
    explicit operator bool() const noexcept { return started_; }

private:
    bool started_ = false;
};

std::optional<uint16_t> ParsePort(const wchar_t* text)
{
    if (!text || !*text) return std::nullopt;
    wchar_t* end = nullptr;
    const long port = std::wcstol(text, &end, 10);
    if (*end != L'\0' || port < 1 || port > 65535) return std::nullopt;
    return static_cast<uint16_t>(port);
}

std::optional<uint16_t> PortFromCommandLine()
{
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                         ::LocalFree);
    if (argv && count == 3 && std::wstring(argv.get()[1]) == L"--port") return ParsePort(argv.get()[2]);
    if (argv && count == 1) return ParsePort(_wgetenv(L"NJ_MPRIS_PORT"));
    return std::nullopt;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::optional<uint16_t> port = PortFromCommandLine();
    const char* token = std::getenv("NJ_MPRIS_TOKEN");
    if (!port || !token || !*token) {
        std::fprintf(stderr, "usage: NJ_MPRIS_TOKEN=T nj-mpris-bridge.exe --port N\n");
        return 2;
    }
    WinsockSession winsock;
    if (!winsock) {
        std::fprintf(stderr, "nj-mpris-bridge: Winsock did not start\n");
        return 1;
    }
    mpris_bridge::BridgeApp app(*port, token);
    if (FAILED(app.Start())) {
        std::fprintf(stderr, "nj-mpris-bridge: cannot create its window\n");
        return 1;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
