// The OS routines an assembly program of ours calls with `rst 28h` and an
// address (bcall), answered by the harness in place of the OS: exactly the
// ones in sim/z80calc/README.md; any other ends the run naming its address.
// Registers the OS does not keep across a routine are scrambled, so a
// program that relies on them fails here as it would on some OS version.
#pragma once

#include <cstdint>
#include <string>

#include "keys.h"
#include "machine.h"
#include "screen.h"

namespace z80calc {

constexpr std::uint16_t kBcallVector = 0x0028;
// The OS keeps its flags at IY; every routine relies on it.
constexpr std::uint16_t kFlagsBase = 0x89F0;

// The OS's state that the program must leave as it found it.
struct OsState {
    bool apd_enabled = true;
    bool run_indicator_on = true;
};

class OsRoutines {
public:
    OsRoutines(Machine& machine, HomeScreen& screen, Keypad& keypad)
        : machine_(machine), screen_(screen), keypad_(keypad) {}

    // The CPU is at rst 28h's vector: runs the routine named after the rst
    // and returns past the address, as the OS does. Its T-states (about
    // what the OS's routine takes). Throws Fault.
    int Bcall();
    const OsState& State() const { return state_; }

private:
    struct Routine;
    static const Routine* Find(std::uint16_t address);

    // Each routine returns its T-states.
    int GetCsc();
    int ClearScreen();
    int HomeUp();
    int PutC();
    int PutMap();
    int PutS();
    int NewLine();
    int DispHL();
    int RunIndicOff();
    int RunIndicOn();
    int DisableApd();
    int EnableApd();
    int SetState(bool& flag, bool value);
    std::uint8_t A() { return static_cast<std::uint8_t>(machine_.Reg(regAF) >> 8); }
    void SetA(std::uint8_t value);
    void Scramble(unsigned registers);

    Machine& machine_;
    HomeScreen& screen_;
    Keypad& keypad_;
    OsState state_;
    std::uint32_t noise_ = 0x9E3779B9u;
};

}  // namespace z80calc
