// One line on standard error per event worth knowing about.
#pragma once

#include <string_view>

namespace mpris_helper {

void Log(std::string_view line);

}  // namespace mpris_helper
