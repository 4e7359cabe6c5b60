// nightjar's command line and its config file.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cable_choice.h"

namespace nightjar::native {

// Exit statuses a script can rely on.
enum ExitStatus : int {
    kExitOk = 0,           // done, or stopped by a signal
    kExitFailed = 1,       // the port failed in an unexpected way, or no session bus
    kExitUsage = 2,        // bad command line or config file
    kExitNoDevice = 3,     // no such device, or it went away (without --wait-device)
    kExitPermission = 4,   // the device or cable may not be opened by this user
    kExitNotSerial = 5,    // not a serial port, or in use by another program
};

enum class Action { Run, ListDevices, CheckCable, Help, Version };

struct Options {
    Action action = Action::Run;
    CableChoice cable;
    bool cable_given = false;   // on the command line
    std::string device;
    bool device_given = false;  // on the command line
    std::string player;
    bool wait_device = false;
    bool verbose = false;
    bool scripted_player = false;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws UsageError.
Options ParseCommandLine(const std::vector<std::string>& args);

// Fills in what the command line left out from the config file's
// "key = value" lines (cable, device, player; '#' starts a comment). Throws
// UsageError naming the file and line of anything else.
void ApplyConfig(Options& options, const std::string& text, const std::string& file_name);

// Once the command line and the config file are read: a serial cable needs
// a device, a USB one takes none (a device line the config file keeps for
// another cable is left aside). Throws UsageError.
void CheckDevice(Options& options);

// $XDG_CONFIG_HOME/nightjar/config, or ~/.config/nightjar/config.
std::optional<std::string> ConfigPath();

extern const char kUsage[];

}  // namespace nightjar::native
