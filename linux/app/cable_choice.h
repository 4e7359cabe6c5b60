// Which cable nightjar drives: the black serial cable with our own bit
// driver, or a cable libticables2 drives. Names as the command line and the
// config file give them.
#pragma once

#include <optional>
#include <string>

namespace nightjar::native {

enum class CableKind {
    Black,          // our own bit driver on a serial port's modem lines (the default)
    BlackTicables,  // the same cable through libticables2's driver
    Gray,           // TI's gray serial cable (libticables2)
    SilverLink,     // TI's USB cable, TI-GRAPH LINK USB (libticables2)
};

struct CableChoice {
    CableKind kind = CableKind::Black;
    int number = 1;  // the Nth SilverLink
    bool operator==(const CableChoice&) const = default;
};

// "black", "black-ticables", "gray", "silverlink", "silverlink:N".
std::optional<CableChoice> ParseCable(const std::string& text);
std::string CableName(CableChoice choice);
// Whether the cable sits on a serial port (and so needs --device).
bool OnSerialPort(CableKind kind);
// One line telling a user how to be allowed to open the cable.
std::string PermissionAdvice(CableKind kind);

}  // namespace nightjar::native
