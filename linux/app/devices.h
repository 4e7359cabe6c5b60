// The serial ports of this machine, as sysfs knows them, for --list-devices.
#pragma once

#include <string>
#include <vector>

#include "tty_lines.h"

namespace nightjar::native {

struct SerialDevice {
    std::string path;    // /dev/ttyUSB0
    std::string driver;  // ftdi_sio, serial8250, ...
    bool usb = false;    // behind a USB adapter
    std::string by_id;   // its stable /dev/serial/by-id name, if any
};

// Ports with a device behind them: every tty of `sys_root`/class/tty that has
// a device, less the 8250 ports the kernel reserves with no hardware (type 0).
// Reads only sysfs and the by-id links: opening a port moves its lines.
std::vector<SerialDevice> ListSerialDevices(const std::string& sys_root = "/sys",
                                            const std::string& dev_root = "/dev");

std::string DescribeDevice(const SerialDevice& device);

// Both wires in plain words: "idle: both wires released", or each wire.
std::string DescribeWires(tty::WireStates inputs);

}  // namespace nightjar::native
