#include "log.h"

#include <cstdio>
#include <string>

namespace mpris_helper {
namespace {

std::string& Name()
{
    static std::string name = "nj-mpris-helper";
    return name;
}

}  // namespace

void Log(std::string_view line)
{
    std::fprintf(stderr, "%s: %.*s\n", Name().c_str(), static_cast<int>(line.size()), line.data());
}

void SetLogName(std::string_view name) { Name() = name; }

}  // namespace mpris_helper
