// linkcat's `lines` command: a cable check for real hardware. Shows the
// state of both wires as they change, in plain words, and lets the user pull
// and release each wire from the keyboard (a and b toggle, q or Esc quits).
// Keys come from the console, or from stdin when that is a file or a pipe,
// so that a script can drive it.
#pragma once

#include <xfer.h>

#include <optional>
#include <string>

#include <windows.h>

namespace linkcat {

enum class Wire { Released, PulledByOtherEnd, PulledByUs, NotFollowing };

// What one wire's two sides say together: whether we pull it, and what its
// input reads (true: released).
Wire ReadWire(bool pulled_by_us, bool input_released);

// "both released: idle", or each wire's state, e.g.
// "wire A pulled by the other end, wire B released".
std::string Describe(Wire a, Wire b);

// Runs until the user quits or timeout_ms (if any) has passed; returns the
// exit status.
int WatchLines(nightjar::link::Lines& lines, std::optional<ULONGLONG> timeout_ms);

}  // namespace linkcat
