// nightjar: Nightjar for Linux. The calculator's link on a serial port or a
// cable libticables2 drives, the same link and the same command table as
// Nightjar.exe, natively; the desktop's MPRIS players on the other side.
// See nightjar(1).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "cable.h"
#include "cli.h"
#include "devices.h"
#include "link_loop.h"
#include "log.h"
#include "mpris_player_side.h"
#include "scripted_player.h"
#include "stop_signal.h"
#include "ticables_cable.h"
#include "tty_lines.h"

namespace {

using namespace nightjar;
using namespace nightjar::native;

constexpr auto kDevicePoll = std::chrono::milliseconds(250);
constexpr auto kUsbDevicePoll = std::chrono::seconds(1);
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

void ExplainOpenError(const tty::OpenError& error, CableKind kind, const Log& log)
{
    log.Error(error.what());
    if (error.failure() == tty::OpenFailure::Permission) log.Error(PermissionAdvice(kind));
    if (error.failure() == tty::OpenFailure::NotSerial)
        log.Error("give the serial port of the link cable; nightjar --list-devices shows them");
}

// Opens what `open` opens (the cable, or the black cable's bare lines);
// with --wait-device, waits for it to appear. Returns nullptr with `status`
// set when it gives up or a stop was requested.
template <class Open>
auto OpenDevice(const Options& options, const Log& log, const StopSignal& stop, int& status, Open open)
    -> decltype(open())
{
    bool told = false;
    auto appeared = std::chrono::steady_clock::now();
    // Looking for a USB cable walks the machine's USB devices.
    const auto poll = OnSerialPort(options.cable.kind) ? kDevicePoll : kUsbDevicePoll;
    while (!stop.Requested()) {
        try {
            return open();
        } catch (const tty::OpenError& error) {
            const bool missing = error.failure() == tty::OpenFailure::NotFound;
            const bool settling = error.failure() == tty::OpenFailure::Permission &&
                                  std::chrono::steady_clock::now() - appeared < kPermissionGrace;
            if (!options.wait_device || !(missing || settling)) {
                ExplainOpenError(error, options.cable.kind, log);
                status = StatusOf(error.failure());
                return nullptr;
            }
            if (missing) appeared = std::chrono::steady_clock::now() + poll;
            if (!told) log.Error(std::string(error.what()) + "; waiting for it");
            told = true;
        }
        std::this_thread::sleep_for(poll);
    }
    status = kExitOk;
    return nullptr;
}

std::unique_ptr<OpenCable> OpenTheCable(const Options& options, const Log& log, const StopSignal& stop, int& status)
{
    return OpenDevice(options, log, stop, status, [&] {
        auto cable = OpenCableOf(options.cable, options.device);
        log.Event("opened " + cable->Name());
        return cable;
    });
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
    auto cable = OpenTheCable(options, log, stop, status);
    if (!cable) return status;
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
        if (loop.Run(cable->link()) == LinkLoop::End::Stopped) return kExitOk;
        if (!options.wait_device) return kExitNoDevice;
        cable.reset();  // closed before it is looked for again
        cable = OpenTheCable(options, log, stop, status);
        if (!cable) return status;
    }
}

// The black cable's wires in plain words as they change.
int ShowWires(const Options& options, const Log& log, StopSignal& stop)
{
    int status = kExitOk;
    const auto lines =
        OpenDevice(options, log, stop, status, [&] { return tty::TtyLines::Open(options.device); });
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
        status = error.DeviceGone() ? kExitNoDevice : kExitFailed;
    }
    return status;
}

// A cable libticables2 drives: what it can say is that it is there, that it
// opened, and each byte that arrives.
int ShowBytes(const Options& options, const Log& log, StopSignal& stop)
{
    int status = kExitOk;
    const auto cable = OpenTheCable(options, log, stop, status);
    if (!cable) return status;
    CalculatorLink& link = cable->link();
    const auto hook = stop.OnStop([&] { link.Interrupt(); });
    std::printf("%s: present and opened; each byte the calculator sends shows here; Ctrl+C ends\n",
                cable->Name().c_str());
    std::fflush(stdout);
    try {
        while (!stop.Requested()) {
            if (link.Look() != LinkState::SenderWaiting) {
                link.WaitForActivity(std::chrono::seconds(1));
                continue;
            }
            try {
                std::printf("a byte arrived: %d\n", link.ReceiveByte());
            } catch (const HandshakeTimeout& timeout) {
                std::printf("a byte began and broke off: %s\n", timeout.what());
            }
            std::fflush(stdout);
        }
    } catch (const CableGone& error) {
        log.Error(error.what());
        return kExitNoDevice;
    } catch (const std::exception& error) {
        log.Error(error.what());
        return kExitFailed;
    }
    return kExitOk;
}

int CheckCable(const Options& options, const Log& log, StopSignal& stop)
{
    return options.cable.kind == CableKind::Black ? ShowWires(options, log, stop) : ShowBytes(options, log, stop);
}

int ListDevices()
{
    const auto devices = ListSerialDevices();
    if (devices.empty()) std::printf("no serial ports found\n");
    for (const auto& device : devices) std::printf("%s\n", DescribeDevice(device).c_str());
    const auto usb = ListTiUsbDevices();
    if (usb.empty()) std::printf("no TI USB cables found\n");
    for (const auto& device : usb) std::printf("%s\n", DescribeTiUsbDevice(device).c_str());
    return kExitOk;
}

void ReadConfig(Options& options)
{
    if (options.cable_given && !options.device.empty() && !options.player.empty()) return;
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
        if (options.action == Action::Run || options.action == Action::CheckCable) CheckDevice(options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "nightjar: %s\n%s", error.what(), kUsage);
        return kExitUsage;
    }
    const Log log(options.verbose);
    RouteTicablesMessages([&log](const std::string& line) { log.Event(line); });
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
