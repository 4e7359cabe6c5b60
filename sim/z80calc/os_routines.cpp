#include "os_routines.h"

#include <array>

namespace z80calc {
namespace {

enum Registers : unsigned { kNone = 0, kAF = 1, kBC = 2, kDE = 4, kHL = 8, kAll = kAF | kBC | kDE | kHL };

// Addresses from TI's published include file; the registers each one
// destroys as TI documents them, outputs left out.
struct Routine {
    std::uint16_t address;
    const char* name;
    unsigned destroys;
};

constexpr std::array kRoutines{
    Routine{0x4018, "_GetCSC", kHL},       Routine{0x4540, "_ClrLCDFull", kAll},
    Routine{0x4546, "_ClrScrnFull", kAll}, Routine{0x4558, "_HomeUp", kNone},
    Routine{0x4504, "_PutC", kNone},       Routine{0x4501, "_PutMap", kNone},
    Routine{0x450A, "_PutS", kAF},         Routine{0x452E, "_NewLine", kNone},
    Routine{0x4507, "_DispHL", kAF | kDE}, Routine{0x4570, "_RunIndicOff", kNone},
    Routine{0x456D, "_RunIndicOn", kNone}, Routine{0x4C84, "_DisableApd", kNone},
    Routine{0x4C87, "_EnableApd", kNone},
};

// T-states of a character drawn through the LCD driver and of a cleared
// screen: about what the OS's routines take at 6 MHz.
constexpr int kCharCycles = 2500;
constexpr int kClearCycles = 60000;
constexpr int kBookkeepingCycles = 200;

const Routine* Find(std::uint16_t address)
{
    for (const auto& routine : kRoutines)
        if (routine.address == address) return &routine;
    return nullptr;
}

}  // namespace

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
    const int cycles = Run(address);
    Scramble(routine->destroys);
    machine_.SetReg(regPC, static_cast<std::uint16_t>(after_rst + 2));
    return cycles;
}

int OsRoutines::Run(std::uint16_t address)
{
    switch (address) {
    case 0x4018: SetA(keypad_.GetCsc()); return 300;
    case 0x4540:
    case 0x4546: screen_.Clear(); return kClearCycles;
    case 0x4558: screen_.HomeUp(); return kBookkeepingCycles;
    case 0x4504: screen_.PutC(A()); return kCharCycles;
    case 0x4501: screen_.PutMap(A()); return kCharCycles;
    case 0x450A: return PutS();
    case 0x452E: screen_.NewLine(); return kBookkeepingCycles;
    case 0x4507: return DispHL();
    case 0x4570: state_.run_indicator_on = false; return kBookkeepingCycles;
    case 0x456D: state_.run_indicator_on = true; return kBookkeepingCycles;
    case 0x4C84: state_.apd_enabled = false; return kBookkeepingCycles;
    case 0x4C87: state_.apd_enabled = true; return kBookkeepingCycles;
    default: return -1;
    }
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
