#include "devices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace nightjar::native {
namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// by-id link targets, by device name.
std::string ByIdName(const std::string& dev_root, const std::string& name)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(dev_root) / "serial/by-id", error)) {
        std::error_code link_error;
        const fs::path target = fs::read_symlink(entry.path(), link_error);
        if (!link_error && target.filename() == name) return entry.path().string();
    }
    return "";
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const std::string& sys_root, const std::string& dev_root)
{
    std::vector<SerialDevice> devices;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(sys_root) / "class/tty", error)) {
        const fs::path tty = entry.path();
        std::error_code link_error;
        const fs::path device = fs::canonical(tty / "device", link_error);
        if (link_error) continue;  // virtual terminals, ptys
        const fs::path type = tty / "type";
        if (fs::exists(type) && FirstLine(type) == "0") continue;  // a reserved port with no UART
        const std::string name = tty.filename().string();
        SerialDevice found;
        found.path = (fs::path(dev_root) / name).string();
        found.driver = fs::read_symlink(device / "driver", link_error).filename().string();
        found.usb = device.string().find("/usb") != std::string::npos;
        found.by_id = ByIdName(dev_root, name);
        devices.push_back(found);
    }
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return devices;
}

std::string DescribeDevice(const SerialDevice& device)
{
    std::string line = device.path + "  " + (device.usb ? "USB serial adapter" : "serial port");
    if (!device.driver.empty()) line += " (" + device.driver + ")";
    if (!device.by_id.empty()) line += "  " + device.by_id;
    return line;
}

std::string DescribeWires(tty::WireStates inputs)
{
    if (inputs.a && inputs.b) return "idle: both wires released";
    const auto word = [](bool released) { return released ? "released" : "pulled"; };
    return std::string("wire A ") + word(inputs.a) + ", wire B " + word(inputs.b);
}

}  // namespace nightjar::native
