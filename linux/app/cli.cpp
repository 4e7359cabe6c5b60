#include "cli.h"

#include <cstdlib>
#include <sstream>

namespace nightjar::native {

const char kUsage[] =
    "usage: nightjar [--cable KIND] [--device PATH] [--player NAME] [--wait-device] [--verbose]\n"
    "       nightjar --list-devices\n"
    "       nightjar --check-cable [--cable KIND] [--device PATH]\n"
    "       nightjar --help | --version\n"
    "\n"
    "Joins a graphing calculator on a link cable to the desktop's media\n"
    "player (any MPRIS player): the calculator's keys drive the player, each\n"
    "new track shows on the calculator.\n"
    "\n"
    "  --cable KIND      black (the default: the black serial cable, nightjar's own\n"
    "                    driver), silverlink (TI's USB cable; silverlink:2 the second\n"
    "                    one plugged in), gray (TI's gray serial cable), black-ticables\n"
    "                    (the black cable through libticables2's driver)\n"
    "  --device PATH     the serial port of a serial cable (e.g. /dev/ttyUSB0)\n"
    "  --player NAME     follow the MPRIS player of this name (vlc, mpv, ...); without\n"
    "                    it, the one playing (or last seen playing) on the session bus\n"
    "  --wait-device     wait for the device to appear, and to come back when it goes\n"
    "  --list-devices    list the serial ports and TI's USB cables of this machine\n"
    "  --check-cable     show the wires of the cable as they change, or on a byte\n"
    "                    cable the bytes that arrive (Ctrl+C ends)\n"
    "  --verbose         log every event on standard error\n"
    "  --scripted-player take the player's tracks from standard input (\"track ARTIST<TAB>TITLE\",\n"
    "                    \"gone\") and print its calls (\"call BYTE DISPID\"): for tests\n"
    "  --help, --version\n"
    "\n"
    "What the command line leaves out is read from $XDG_CONFIG_HOME/nightjar/config\n"
    "(lines \"cable = KIND\", \"device = PATH\", \"player = NAME\").\n"
    "\n"
    "The calculator runs its own program, /usr/share/nightjar/NIGHTJAR.8xp (TI-83 Plus\n"
    "and 84 Plus family): send it with TiLP, run Asm(prgmNIGHTJAR); see nightjar(1).\n"
    "\n"
    "Exit status: 0 done or stopped, 1 the port failed or there is no session\n"
    "bus, 2 bad command line or config, 3 no such device (or it went away),\n"
    "4 permission denied (join the dialout group; for a USB cable, the udev rule of\n"
    "libticables2-8), 5 not a serial port or in use.\n";

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

CableChoice CableOf(const std::string& text, const std::string& where)
{
    const auto choice = ParseCable(text);
    if (!choice)
        throw UsageError(where + "no cable kind " + text + " (black, silverlink, silverlink:N, gray, black-ticables)");
    return *choice;
}

void SetAction(Options& options, Action action)
{
    if (options.action != Action::Run) throw UsageError("only one of --list-devices, --check-cable, --help, --version");
    options.action = action;
}

}  // namespace

Options ParseCommandLine(const std::vector<std::string>& args)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size() || args[i + 1].empty()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--cable") {
            options.cable = CableOf(value(), "");
            options.cable_given = true;
        } else if (arg == "--device") {
            options.device = value();
            options.device_given = true;
        } else if (arg == "--player") {
            options.player = value();
        } else if (arg == "--wait-device") {
            options.wait_device = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--scripted-player") {
            options.scripted_player = true;
        } else if (arg == "--list-devices") {
            SetAction(options, Action::ListDevices);
        } else if (arg == "--check-cable") {
            SetAction(options, Action::CheckCable);
        } else if (arg == "--help" || arg == "-h") {
            SetAction(options, Action::Help);
        } else if (arg == "--version") {
            SetAction(options, Action::Version);
        } else {
            throw UsageError("unknown argument " + arg);
        }
    }
    return options;
}

void ApplyConfig(Options& options, const std::string& text, const std::string& file_name)
{
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        const std::string where = file_name + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) throw UsageError(where + "expected \"key = value\"");
        const std::string key = Trimmed(line.substr(0, eq));
        const std::string value = Trimmed(line.substr(eq + 1));
        if (value.empty()) throw UsageError(where + key + " has no value");
        if (key == "cable") {
            const CableChoice cable = CableOf(value, where);  // a bad line is an error either way
            if (!options.cable_given) options.cable = cable;
        } else if (key == "device") {
            if (options.device.empty()) options.device = value;
        } else if (key == "player") {
            if (options.player.empty()) options.player = value;
        } else {
            throw UsageError(where + "unknown key " + key);
        }
    }
}

void CheckDevice(Options& options)
{
    if (OnSerialPort(options.cable.kind)) {
        if (options.device.empty())
            throw UsageError("no device: give --device PATH, or device = PATH in the config file");
        return;
    }
    if (options.device_given)
        throw UsageError("--device is for serial cables; a SilverLink is found by itself "
                         "(--cable silverlink:2 for the second one plugged in)");
    options.device.clear();
}

std::optional<std::string> ConfigPath()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/nightjar/config";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return std::string(home) + "/.config/nightjar/config";
    return std::nullopt;
}

}  // namespace nightjar::native
