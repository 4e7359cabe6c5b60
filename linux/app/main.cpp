// nightjar: Nightjar for Linux. The calculator's link on a serial port, the
// same link and the same command table as Nightjar.exe, natively; the
// desktop's MPRIS players on the other side. See nightjar(1).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "cli.h"
#include "devices.h"
#include "link_loop.h"
#include "log.h"
#include "mpris_player_side.h"
#include "scripted_player.h"
#include "stop_signal.h"
#include "timed_link.h"
#include "tty_lines.h"

namespace {

using namespace nightjar;
using namespace nightjar::native;

constexpr auto kDevicePoll = std::chrono::milliseconds(250);
// A device node appears before udev has given it its group.
constexpr auto kPermissionGrace = std::chrono::seconds(2);

int StatusOf(tty::OpenFailure failure)
{
    switch (failure) {
    case tty::OpenFailure::NotFound: return kExitNoDevice;
    case tty::OpenFailure::Permission: return kExitPermission;
    case tty::OpenFailure::Busy:
    case tty::OpenFailure::NotSerial: return kExitNotSerial;
    case tty::OpenFailure::Other: break;
    }
    return kExitFailed;
}

void ExplainOpenError(const tty::OpenError& error, const Log& log)
{
    log.Error(error.what());
    if (error.failure() == tty::OpenFailure::Permission)
        log.Error("to use serial ports, join the dialout group (sudo adduser $USER dialout) and log in again");
    if (error.failure() == tty::OpenFailure::NotSerial)
        log.Error("give the serial port of the link cable; nightjar --list-devices shows them");
}

// Opens the device; with --wait-device, waits for it to appear. Returns
// nullptr with `status` set when it gives up or a stop was requested.
std::unique_ptr<tty::TtyLines> OpenDevice(const Options& options, const Log& log, const StopSignal& stop, int& status)
{
    bool told = false;
    auto appeared = std::chrono::steady_clock::now();
    while (!stop.Requested()) {
        try {
            auto lines = tty::TtyLines::Open(options.device);
            log.Event("opened " + options.device + (lines->HasModemWait() ? "" : " (no modem-line wait: polling)"));
            return lines;
        } catch (const tty::OpenError& error) {
            const bool missing = error.failure() == tty::OpenFailure::NotFound;
            const bool settling = error.failure() == tty::OpenFailure::Permission &&
                                  std::chrono::steady_clock::now() - appeared < kPermissionGrace;
            if (!options.wait_device || !(missing || settling)) {
                ExplainOpenError(error, log);
                status = StatusOf(error.failure());
                return nullptr;
            }
            if (missing) appeared = std::chrono::steady_clock::now() + kDevicePoll;
            if (!told) log.Error(std::string(error.what()) + "; waiting for it");
            told = true;
        }
        std::this_thread::sleep_for(kDevicePoll);
    }
    status = kExitOk;
    return nullptr;
}

std::unique_ptr<PlayerSide> MakePlayerSide(const Options& options, const Log& log)
{
    if (options.scripted_player) return std::make_unique<ScriptedPlayer>(STDIN_FILENO, stdout, log);
    log.Event(options.player.empty() ? "following the MPRIS player that plays" : "following the MPRIS player " + options.player);
    return std::make_unique<MprisPlayerSide>(options.player, log);
}

int RunLink(const Options& options, const Log& log, StopSignal& stop)
{
    // The device first: a wrong one is the likelier mistake, and its exit
    // status says which.
    int status = kExitOk;
    auto lines = OpenDevice(options, log, stop, status);
    if (!lines) return status;
    const auto player_side = MakePlayerSide(options, log);
    PlayerSide& player = *player_side;
    LinkLoop loop(player, log);
    const auto hook = stop.OnStop([&] { loop.RequestStop(); });
    player.Start(loop);
    struct StopPlayer {
        PlayerSide& player;
        ~StopPlayer() { player.Stop(); }
    } stop_player{player};
    for (;;) {
        TimedLink link(*lines);
        if (loop.Run(link) == LinkLoop::End::Stopped) return kExitOk;
        if (!options.wait_device) return kExitNoDevice;
        lines = OpenDevice(options, log, stop, status);
        if (!lines) return status;
    }
}

int CheckCable(const Options& options, const Log& log, StopSignal& stop)
{
    int status = kExitOk;
    const auto lines = OpenDevice(options, log, stop, status);
    if (!lines) return status;
    const auto hook = stop.OnStop([&] { lines->Interrupt(); });
    std::printf("%s: the far end's pulls show here; Ctrl+C ends\n", options.device.c_str());
    tty::WireStates shown{};
    bool first = true;
    try {
        while (!stop.Requested()) {
            const tty::WireStates now = lines->Inputs();
            if (first || now != shown) std::printf("%s\n", DescribeWires(now).c_str());
            std::fflush(stdout);
            shown = now;
            first = false;
            lines->WaitForChange(std::chrono::seconds(1), now);
        }
    } catch (const tty::LineError& error) {
        log.Error(error.what());
        return error.DeviceGone() ? kExitNoDevice : kExitFailed;
    }
    return kExitOk;
}

int ListDevices()
{
    const auto devices = ListSerialDevices();
    if (devices.empty()) std::printf("no serial ports found\n");
    for (const auto& device : devices) std::printf("%s\n", DescribeDevice(device).c_str());
    return kExitOk;
}

void ReadConfig(Options& options)
{
    if (!options.device.empty() && !options.player.empty()) return;
    const auto path = ConfigPath();
    if (!path) return;
    std::ifstream in(*path);
    if (!in) return;
    std::ostringstream text;
    text << in.rdbuf();
    ApplyConfig(options, text.str(), *path);
}

int Main(int argc, char** argv)
{
    StopSignal stop;
    Options options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (options.action == Action::Run || options.action == Action::CheckCable) ReadConfig(options);
        if ((options.action == Action::Run || options.action == Action::CheckCable) && options.device.empty())
            throw UsageError("no device: give --device PATH, or device = PATH in the config file");
    } catch (const UsageError& error) {
        std::fprintf(stderr, "nightjar: %s\n%s", error.what(), kUsage);
        return kExitUsage;
    }
    const Log log(options.verbose);
    switch (options.action) {
    case Action::Help: std::fputs(kUsage, stdout); return kExitOk;
    case Action::Version: std::printf("nightjar %s\n", NJ_VERSION); return kExitOk;
    case Action::ListDevices: return ListDevices();
    case Action::CheckCable: return CheckCable(options, log, stop);
    case Action::Run: break;
    }
    try {
        return RunLink(options, log, stop);
    } catch (const std::exception& error) {
        log.Error(error.what());
        return kExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
