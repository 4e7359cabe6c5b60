#include "machine.h"

#include <cstdio>
#include <utility>

namespace z80calc {

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%0*Xh", digits, value);
    return text;
}

Machine::Machine(PortBus& ports)
    : ports_(ports),
      cpu_(z80ex_create(ReadMemory, this, WriteMemory, this, ReadPort, this, WritePort, this, InterruptVector, this))
{
    if (cpu_ == nullptr) throw std::runtime_error("z80ex_create failed");
}

Machine::~Machine() { z80ex_destroy(cpu_); }

int Machine::Step()
{
    int tstates = z80ex_step(cpu_);
    while (z80ex_last_op_type(cpu_) != 0) tstates += z80ex_step(cpu_);
    ThrowFault();
    return tstates;
}

int Machine::Interrupt()
{
    const int tstates = z80ex_int(cpu_);
    ThrowFault();
    return tstates;
}

// Faults are noted in the callbacks and thrown here, out of the C library.
void Machine::ThrowFault()
{
    if (!fault_.empty()) throw Fault(std::exchange(fault_, {}));
}

void Machine::NoteFault(std::string what)
{
    if (fault_.empty()) fault_ = std::move(what);
}
bool Machine::Halted() { return z80ex_doing_halt(cpu_) != 0; }
bool Machine::InterruptsEnabled() { return z80ex_get_reg(cpu_, regIFF1) != 0; }
std::uint16_t Machine::Reg(Z80_REG_T reg) { return z80ex_get_reg(cpu_, reg); }
void Machine::SetReg(Z80_REG_T reg, std::uint16_t value) { z80ex_set_reg(cpu_, reg, value); }

std::uint16_t Machine::PeekWord(std::uint16_t address) const
{
    return static_cast<std::uint16_t>(memory_[address] | memory_[static_cast<std::uint16_t>(address + 1)] << 8);
}

void Machine::PokeWord(std::uint16_t address, std::uint16_t value)
{
    memory_[address] = static_cast<std::uint8_t>(value);
    memory_[static_cast<std::uint16_t>(address + 1)] = static_cast<std::uint8_t>(value >> 8);
}

void Machine::Push(std::uint16_t value)
{
    const auto sp = static_cast<std::uint16_t>(Reg(regSP) - 2);
    PokeWord(sp, value);
    SetReg(regSP, sp);
}

std::uint16_t Machine::Pop()
{
    const std::uint16_t sp = Reg(regSP);
    SetReg(regSP, static_cast<std::uint16_t>(sp + 2));
    return PeekWord(sp);
}

Z80EX_BYTE Machine::ReadMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int m1, void* self)
{
    auto& machine = *static_cast<Machine*>(self);
    if (m1 && address >= kNoExecStart)
        machine.NoteFault("code run at " + Hex(address) + ": the TI-83 Plus runs no code at or past C000h");
    return machine.memory_[address];
}

void Machine::WriteMemory(Z80EX_CONTEXT* cpu, Z80EX_WORD address, Z80EX_BYTE value, void* self)
{
    auto& machine = *static_cast<Machine*>(self);
    if (address < kRamStart)
        return machine.NoteFault("write of " + Hex(value, 2) + " to " + Hex(address) +
                                 " (the OS's flash) by the instruction before " + Hex(z80ex_get_reg(cpu, regPC)));
    machine.memory_[address] = value;
}

Z80EX_BYTE Machine::ReadPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* self)
{
    auto& machine = *static_cast<Machine*>(self);
    const std::uint8_t value = machine.ports_.In(static_cast<std::uint8_t>(port & 0xFF));
    if (!machine.ports_.fault.empty()) machine.NoteFault(std::exchange(machine.ports_.fault, {}));
    return value;
}

void Machine::WritePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE value, void* self)
{
    auto& machine = *static_cast<Machine*>(self);
    machine.ports_.Out(static_cast<std::uint8_t>(port & 0xFF), value);
    if (!machine.ports_.fault.empty()) machine.NoteFault(std::exchange(machine.ports_.fault, {}));
}

// IM 1 ignores the bus; 0FFh is what the 83 Plus's bus floats to.
Z80EX_BYTE Machine::InterruptVector(Z80EX_CONTEXT*, void*) { return 0xFF; }

}  // namespace z80calc
