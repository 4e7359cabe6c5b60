#include "os_routines.h"

#include <array>

namespace z80calc {
namespace {

enum Registers : unsigned { kNone = 0, kAF = 1, kBC = 2, kDE = 4, kHL = 8, kAll = kAF | kBC | kDE | kHL };

// T-states of a character drawn through the LCD driver and of a cleared
// screen: about what the OS's routines take at 6 MHz.
constexpr int kCharCycles = 2500;
constexpr int kClearCycles = 60000;
constexpr int kBookkeepingCycles = 200;

}  // namespace

// Addresses from TI's published include file; the registers each one
// destroys as TI documents them, outputs left out.
struct OsRoutines::Routine {
    std::uint16_t address;
    const char* name;
    int (OsRoutines::*run)();
    unsigned destroys;
};

const OsRoutines::Routine* OsRoutines::Find(std::uint16_t address)
{
    static constexpr std::array kRoutines{
        Routine{0x4018, "_GetCSC", &OsRoutines::GetCsc, kHL},
        Routine{0x4540, "_ClrLCDFull", &OsRoutines::ClearScreen, kAll},
        Routine{0x4546, "_ClrScrnFull", &OsRoutines::ClearScreen, kAll},
        Routine{0x4558, "_HomeUp", &OsRoutines::HomeUp, kNone},
        Routine{0x4504, "_PutC", &OsRoutines::PutC, kNone},
        Routine{0x4501, "_PutMap", &OsRoutines::PutMap, kNone},
        Routine{0x450A, "_PutS", &OsRoutines::PutS, kAF},
        Routine{0x452E, "_NewLine", &OsRoutines::NewLine, kNone},
        Routine{0x4507, "_DispHL", &OsRoutines::DispHL, kAF | kDE},
        Routine{0x4570, "_RunIndicOff", &OsRoutines::RunIndicOff, kNone},
        Routine{0x456D, "_RunIndicOn", &OsRoutines::RunIndicOn, kNone},
        Routine{0x4C84, "_DisableApd", &OsRoutines::DisableApd, kNone},
        Routine{0x4C87, "_EnableApd", &OsRoutines::EnableApd, kNone},
    };
    for (const auto& routine : kRoutines)
        if (routine.address == address) return &routine;
    return nullptr;
}

int OsRoutines::Bcall()
{
    const std::uint16_t after_rst = machine_.Pop();
    const std::uint16_t address = machine_.PeekWord(after_rst);
    const std::uint16_t call_site = static_cast<std::uint16_t>(after_rst - 1);
    const Routine* routine = Find(address);
    if (routine == nullptr)
        throw Fault("bcall " + Hex(address) + " at " + Hex(call_site) + ": a routine the harness does not answer");
    if (machine_.Reg(regIY) != kFlagsBase)
        throw Fault(std::string(routine->name) + " at " + Hex(call_site) + " with IY = " + Hex(machine_.Reg(regIY)) +
                    ": the OS finds its flags through IY = 89F0h");
    const int cycles = (this->*routine->run)();
    Scramble(routine->destroys);
    machine_.SetReg(regPC, static_cast<std::uint16_t>(after_rst + 2));
    return cycles;
}

int OsRoutines::GetCsc()
{
    SetA(keypad_.GetCsc());
    return 300;
}

int OsRoutines::ClearScreen()
{
    screen_.Clear();
    return kClearCycles;
}

int OsRoutines::HomeUp()
{
    screen_.HomeUp();
    return kBookkeepingCycles;
}

int OsRoutines::PutC()
{
    screen_.PutC(A());
    return kCharCycles;
}

int OsRoutines::PutMap()
{
    screen_.PutMap(A());
    return kCharCycles;
}

int OsRoutines::NewLine()
{
    screen_.NewLine();
    return kBookkeepingCycles;
}

int OsRoutines::RunIndicOff() { return SetState(state_.run_indicator_on, false); }
int OsRoutines::RunIndicOn() { return SetState(state_.run_indicator_on, true); }
int OsRoutines::DisableApd() { return SetState(state_.apd_enabled, false); }
int OsRoutines::EnableApd() { return SetState(state_.apd_enabled, true); }

int OsRoutines::SetState(bool& flag, bool value)
{
    flag = value;
    return kBookkeepingCycles;
}

// Each character as _PutC; HL left past the terminating zero.
int OsRoutines::PutS()
{
    std::uint16_t hl = machine_.Reg(regHL);
    int cycles = kBookkeepingCycles;
    for (int count = 0;; ++count) {
        if (count > 0xFFFF) throw Fault("_PutS: no terminating zero anywhere in memory");
        const std::uint8_t code = machine_.Peek(hl++);
        if (code == 0) break;
        screen_.PutC(code);
        cycles += kCharCycles;
    }
    machine_.SetReg(regHL, hl);
    return cycles;
}

// HL as an unsigned number right-aligned in five columns.
int OsRoutines::DispHL()
{
    std::string digits = std::to_string(machine_.Reg(regHL));
    digits.insert(0, 5 - digits.size(), ' ');
    for (const char digit : digits) screen_.PutC(static_cast<std::uint8_t>(digit));
    return 5 * kCharCycles + kBookkeepingCycles;
}

void OsRoutines::SetA(std::uint8_t value)
{
    machine_.SetReg(regAF, static_cast<std::uint16_t>(value << 8 | (machine_.Reg(regAF) & 0xFF)));
}

void OsRoutines::Scramble(unsigned registers)
{
    const auto next = [this] {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        return static_cast<std::uint16_t>(noise_);
    };
    if (registers & kAF) machine_.SetReg(regAF, next());
    if (registers & kBC) machine_.SetReg(regBC, next());
    if (registers & kDE) machine_.SetReg(regDE, next());
    if (registers & kHL) machine_.SetReg(regHL, next());
}

}  // namespace z80calc
