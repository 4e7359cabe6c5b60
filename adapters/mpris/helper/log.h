// One line on standard error per event worth knowing about, each starting
// with the program's name.
#pragma once

#include <string_view>

namespace mpris_helper {

void Log(std::string_view line);

// For a program other than nj-mpris-helper that uses these pieces.
void SetLogName(std::string_view name);

}  // namespace mpris_helper
