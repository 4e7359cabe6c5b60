#include "log.h"

#include <cstdio>
#include <string>

namespace mpris_helper {

void Log(std::string_view line)
{
    std::fprintf(stderr, "nj-mpris-helper: %.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace mpris_helper
