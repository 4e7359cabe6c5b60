// The ports an assembly program of ours touches, with the TI-83 Plus
// family's meanings: port 0 the link (on a cable end, or on nothing), port 2
// the model bit, 3 and 4 the interrupt mask and timer, 8 the link assist of
// the Silver Edition and the 84 Plus. Any other port is noted once.
#pragma once

#include <xfer.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "machine.h"

namespace z80calc {

enum class Model { Ti83Plus, Ti83PlusSE, Ti84Plus };

// Port 0: writing bit 0 (tip, our wire A) or bit 1 (ring, wire B) pulls
// that line low; reading gives the lines' levels in bits 0-1 (1 = high) and
// what this calculator pulls in bits 4-5. `lines` null: no cable, nobody
// else pulls.
class LinkPort {
public:
    explicit LinkPort(nightjar::link::Lines* lines) : lines_(lines) {}
    std::uint8_t Read();
    // False (and nothing driven) for a value the port does not take.
    bool Write(std::uint8_t value);
    std::uint8_t Held() const { return held_; }

private:
    nightjar::link::Lines* lines_;
    std::uint8_t held_ = 0;
};

// A key at the instant the PC starts a byte of its own: once armed, the
// program's next pull of a line from idle is held back until the PC pulls
// one too (each side having seen the wires idle), at most kCollisionWait.
// The CPU only stands still meanwhile, as if the emulator were slow; the
// pacer lets that time go.
class CalcPorts final : public PortBus {
public:
    static constexpr std::chrono::seconds kCollisionWait{30};
    using EventSink = std::function<void(const std::string&)>;

    CalcPorts(Model model, nightjar::link::Lines* lines, EventSink events)
        : model_(model), link_(lines), events_(std::move(events)) {}
    void ArmCollision() { collision_armed_ = true; }
    std::uint8_t In(std::uint8_t port) override;
    void Out(std::uint8_t port, std::uint8_t value) override;

    const LinkPort& Link() const { return link_; }
    bool HasLinkAssist() const { return model_ != Model::Ti83Plus; }
    // Port 8 as the OS leaves it, and as the program left it.
    static constexpr std::uint8_t kLinkAssistAtStart = 0x00;
    std::uint8_t LinkAssist() const { return link_assist_; }

private:
    std::uint8_t ReadLink();
    void WriteLink(std::uint8_t port, std::uint8_t value);
    void NoteOnce(const char* what, std::uint8_t port);
    // True once the PC pulls a line; false when it did not within the wait.
    bool AwaitPcPull();

    Model model_;
    LinkPort link_;
    std::uint8_t link_assist_ = kLinkAssistAtStart;
    std::set<int> noted_;
    EventSink events_;
    bool collision_armed_ = false;
};

}  // namespace z80calc
