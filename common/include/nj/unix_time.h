// Windows' clock as Unix time. Wine reads the Unix real-time clock for the
// system time, the clock of the virtual cable's trace and of the harness, so
// stamps taken here line up with theirs.
#pragma once

#include <windows.h>

#include <cstdint>

namespace nj {

// 1970-01-01 in FILETIME's 100 ns ticks since 1601.
inline constexpr std::int64_t kUnixEpochTicks = 116444736000000000;

constexpr std::int64_t UnixMicroseconds(std::uint64_t filetime_ticks) noexcept
{
    return (static_cast<std::int64_t>(filetime_ticks) - kUnixEpochTicks) / 10;
}

constexpr std::int64_t UnixMicroseconds(const FILETIME& time) noexcept
{
    return UnixMicroseconds((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// Now, to the microsecond.
inline std::int64_t UnixNowMicroseconds() noexcept
{
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    return UnixMicroseconds(now);
}

}  // namespace nj
