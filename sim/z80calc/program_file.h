// An assembly program from a TI-83 Plus program file (.8xp), read through
// libtifiles2: its code, as it runs from 9D95h.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace z80calc {

constexpr std::uint16_t kProgramStart = 0x9D95;

struct ProgramError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Program {
    std::string name;
    std::vector<std::uint8_t> code;
};

// Throws ProgramError, naming what is wrong with the file.
Program ReadProgramFile(const std::string& path);

}  // namespace z80calc
