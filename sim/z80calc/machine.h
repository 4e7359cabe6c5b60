// The CPU and its 64 KiB as the TI-83 Plus lays them out for an assembly
// program: 0000h-7FFFh the OS's flash (read-only here, and holding only the
// harness's stubs), 8000h-FFFFh RAM. Ports go to a PortBus of the caller.
#pragma once

#include <z80ex/z80ex.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace z80calc {

// A thing the program did that a calculator would not survive or that
// breaks the contract with the harness: the run stops and says why.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Hex(unsigned value, int digits = 4);

// The calculator's ports. A handler that finds the program at fault sets
// `fault`; the run ends once the instruction is done.
class PortBus {
public:
    virtual ~PortBus() = default;
    virtual std::uint8_t In(std::uint8_t port) = 0;
    virtual void Out(std::uint8_t port, std::uint8_t value) = 0;
    std::string fault;
};

constexpr std::uint16_t kRamStart = 0x8000;
// Code at or past C000h does not run on the TI-83 Plus (the hardware resets).
constexpr std::uint16_t kNoExecStart = 0xC000;

class Machine {
public:
    explicit Machine(PortBus& ports);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // One whole instruction (prefixes included); its T-states.
    int Step();
    // A maskable interrupt, if the CPU takes it now; its T-states, or 0.
    int Interrupt();
    bool Halted();
    bool InterruptsEnabled();

    std::uint16_t Reg(Z80_REG_T reg);
    void SetReg(Z80_REG_T reg, std::uint16_t value);

    std::uint8_t Peek(std::uint16_t address) const { return memory_[address]; }
    std::uint16_t PeekWord(std::uint16_t address) const;
    // The harness's own writes (OS routines, loading): any address.
    void Poke(std::uint16_t address, std::uint8_t value) { memory_[address] = value; }
    void PokeWord(std::uint16_t address, std::uint16_t value);
    void Push(std::uint16_t value);
    std::uint16_t Pop();

    // Ends the run once the instruction under way is done (memory and port
    // handlers run inside the CPU library, which exceptions must not cross).
    void NoteFault(std::string what);

private:
    void ThrowFault();
    static Z80EX_BYTE ReadMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int m1, void* self);
    static void WriteMemory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void* self);
    static Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* self);
    static void WritePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE value, void* self);
    static Z80EX_BYTE InterruptVector(Z80EX_CONTEXT*, void*);

    PortBus& ports_;
    std::array<std::uint8_t, 0x10000> memory_{};
    Z80EX_CONTEXT* cpu_;
    std::string fault_;
};

}  // namespace z80calc
