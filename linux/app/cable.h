// Opening the cable nightjar drives: the black serial cable with our own bit
// driver (TtyLines + TimedLink), or a cable libticables2 drives
// (TicablesLink). The link loop sees only the CalculatorLink either gives.
#pragma once

#include <memory>
#include <string>

#include "cable_choice.h"
#include "calculator_link.h"

namespace nightjar::native {

// An opened cable and the link on it, closed together.
class OpenCable {
public:
    virtual ~OpenCable() = default;
    virtual CalculatorLink& link() = 0;
    // What was opened, for the log: "/dev/ttyUSB0", "SilverLink #1".
    virtual std::string Name() const = 0;
};

// Throws tty::OpenError.
std::unique_ptr<OpenCable> OpenCableOf(CableChoice choice, const std::string& device);

}  // namespace nightjar::native
