// nj-mpris-helper: follows a media player on the session bus and keeps the
// bridge window (nj-mpris-bridge.exe, under Wine) told of its track and
// status; carries out the commands the bridge forwards.
//
//   nj-mpris-helper [--port N] [--player NAME]
//
// The token the bridge must present comes from NJ_MPRIS_TOKEN (hex); without
// it the helper makes one. The first line on standard output is
// "port=N token=T" once the helper listens and the players already on the
// bus have answered (or have not, within the bound of a call); the log goes
// to standard error.
#include <glib-unix.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "helper_app.h"
#include "log.h"

namespace {

using namespace mpris_helper;

struct Options {
    uint16_t port = 0;
    std::string player;
};

constexpr char kUsage[] = "usage: nj-mpris-helper [--port N] [--player NAME]\n";

std::optional<Options> ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return std::nullopt;
        const std::string value = argv[++i];
        if (arg == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) return std::nullopt;
            options.port = static_cast<uint16_t>(port);
        } else if (arg == "--player") {
            options.player = value;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::optional<std::string> MakeToken()
{
    unsigned char bytes[16];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return std::nullopt;
    std::string token;
    for (const unsigned char b : bytes) {
        constexpr char kHex[] = "0123456789abcdef";
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

std::optional<std::string> TokenFromEnvironment()
{
    const char* given = std::getenv("NJ_MPRIS_TOKEN");
    if (!given) return MakeToken();
    const mpris_bridge::Parsed parsed = mpris_bridge::ParseLine(std::string("HELLO ") + given);
    if (!parsed.message) return std::nullopt;
    return std::string(given);
}

gboolean OnStopSignal(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::optional<std::string> token = TokenFromEnvironment();
    if (!token) {
        Log("NJ_MPRIS_TOKEN must be 1 to 128 lower-case hex digits");
        return 2;
    }

    GError* raw = nullptr;
    gobject_ptr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    gerror_ptr failure(raw);
    if (!bus) {
        Log(std::string("no D-Bus session bus: ") + (failure ? failure->message : "unknown error"));
        return 1;
    }

    std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE), g_main_loop_unref);
    HelperApp app({options->port, options->player, *token});
    std::string error;
    const auto ready = [&app, &token] {
        std::printf("port=%u token=%s\n", static_cast<unsigned>(app.Port()), token->c_str());
        std::fflush(stdout);
    };
    if (!app.Start(bus.get(), ready, error)) {
        Log(error);
        return 1;
    }

    g_unix_signal_add(SIGTERM, &OnStopSignal, loop.get());
    g_unix_signal_add(SIGINT, &OnStopSignal, loop.get());
    g_main_loop_run(loop.get());
    return 0;
}
