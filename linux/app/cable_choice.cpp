#include "cable_choice.h"

namespace nightjar::native {
namespace {

constexpr char kSilverLink[] = "silverlink";

}  // namespace

std::optional<CableChoice> ParseCable(const std::string& text)
{
    if (text == "black") return CableChoice{CableKind::Black};
    if (text == "black-ticables") return CableChoice{CableKind::BlackTicables};
    if (text == "gray" || text == "grey") return CableChoice{CableKind::Gray};
    if (text.rfind(kSilverLink, 0) != 0) return std::nullopt;
    const std::string rest = text.substr(sizeof kSilverLink - 1);
    if (rest.empty()) return CableChoice{CableKind::SilverLink};
    if (rest.size() < 2 || rest.size() > 3 || rest[0] != ':' || rest.find_first_not_of("0123456789", 1) != std::string::npos)
        return std::nullopt;
    const int number = std::stoi(rest.substr(1));
    if (number < 1 || number > 16) return std::nullopt;
    return CableChoice{CableKind::SilverLink, number};
}

std::string CableName(CableChoice choice)
{
    switch (choice.kind) {
    case CableKind::Black: return "black";
    case CableKind::BlackTicables: return "black-ticables";
    case CableKind::Gray: return "gray";
    case CableKind::SilverLink:
        return choice.number == 1 ? kSilverLink : std::string(kSilverLink) + ":" + std::to_string(choice.number);
    }
    return "?";
}

bool OnSerialPort(CableKind kind) { return kind != CableKind::SilverLink; }

std::string PermissionAdvice(CableKind kind)
{
    if (kind == CableKind::SilverLink)
        return "TI's USB cables belong to the user logged in at the machine, by the udev rule of the libticables2-8 "
               "package (/lib/udev/rules.d/69-libticables2-8.rules): install it, plug the cable in again and run "
               "nightjar in your own session; from ssh or a system service, give USB device 0451:e001 to a group "
               "of yours (plugdev) in a udev rule of your own";
    return "to use serial ports, join the dialout group (sudo adduser $USER dialout) and log in again";
}

}  // namespace nightjar::native
