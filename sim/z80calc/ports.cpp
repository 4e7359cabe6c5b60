#include "ports.h"

#include <cstdio>
#include <thread>

namespace z80calc {

std::uint8_t LinkPort::Read()
{
    const bool a = lines_ ? lines_->WireAInput() : !(held_ & 1);
    const bool b = lines_ ? lines_->WireBInput() : !(held_ & 2);
    return static_cast<std::uint8_t>((a ? 1 : 0) | (b ? 2 : 0) | held_ << 4);
}

bool LinkPort::Write(std::uint8_t value)
{
    if (value > 3) return false;
    if (lines_ && (value & 1) != (held_ & 1))
        lines_->PutWireAOutput(value & 1 ? nightjar::link::kPullWireA : nightjar::link::kReleaseWireA);
    if (lines_ && (value & 2) != (held_ & 2)) lines_->PutWireBOutput(!(value & 2));
    held_ = value;
    return true;
}

std::uint8_t CalcPorts::In(std::uint8_t port)
{
    // The TI-83 Plus decodes only the low three bits: port 8 there is port 0.
    if (port == 0 || (port == 8 && !HasLinkAssist())) return ReadLink();
    switch (port) {
    case 2: return HasLinkAssist() ? 0x81 : 0x01;  // bit 7: SE or 84 Plus; bit 0: batteries good
    case 3:
    case 4: return 0;
    case 8: return link_assist_;
    default: NoteOnce("reads", port); return 0xFF;
    }
}

void CalcPorts::Out(std::uint8_t port, std::uint8_t value)
{
    if (port == 0 || (port == 8 && !HasLinkAssist())) return WriteLink(port, value);
    switch (port) {
    case 3:
    case 4: return;
    case 8: link_assist_ = value; return;
    default: NoteOnce("writes", port);
    }
}

std::uint8_t CalcPorts::ReadLink()
{
    try {
        return link_.Read();
    } catch (const std::exception& error) {
        fault = std::string("the calculator's cable end failed: ") + error.what();
        return 0;
    }
}

bool CalcPorts::AwaitPcPull()
{
    collision_armed_ = false;
    events_("collision: the program's pull held until the PC pulls");
    const auto deadline = std::chrono::steady_clock::now() + kCollisionWait;
    while ((link_.Read() & 3) == 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    return (link_.Read() & 3) != 3;
}

void CalcPorts::WriteLink(std::uint8_t port, std::uint8_t value)
{
    try {
        const bool held = collision_armed_ && value != 0 && link_.Held() == 0;
        const bool pc_pulled = held && AwaitPcPull();
        if (link_.Write(value)) {
            if (held) events_(pc_pulled ? "collision: both pulled" : "collision: the PC pulled nothing");
            return;
        }
        fault = "port " + std::to_string(port) + " written with " + Hex(value, 2) +
                (port == 8 ? " (the TI-83 Plus has no link assist: port 8 is its port 0)"
                           : ": only 0-3 drive the link");
    } catch (const std::exception& error) {
        fault = std::string("the calculator's cable end failed: ") + error.what();
    }
}

void CalcPorts::NoteOnce(const char* what, std::uint8_t port)
{
    if (noted_.insert(port).second) std::fprintf(stderr, "z80calc: the program %s port %s\n", what, Hex(port, 2).c_str());
}

}  // namespace z80calc
