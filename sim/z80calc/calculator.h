// A TI-83 Plus running one assembly program as from Asm(prgmNAME): the CPU
// and memory, the OS routines, the timer interrupt, the keypad and the home
// screen, held to real time; on return, the checks of what the program must
// leave as it found it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "keys.h"
#include "os_routines.h"
#include "pacer.h"
#include "ports.h"
#include "program_file.h"

namespace z80calc {

struct Settings {
    Model model = Model::Ti83Plus;
    double mhz = 6.0;
    bool events = false;  // event lines with times on stderr
    std::string redraw;   // a terminal's: each screen drawn over the last, this line under it
};

// The timer interrupt's rate: the OS's setting on the TI-83 Plus, and kept
// in wall time on the faster models too.
constexpr double kTickHz = 118.0;

class Calculator {
public:
    Calculator(const Program& program, nightjar::link::Lines* lines, const Settings& settings);

    // Runs until the program returns (0 when it left everything as it
    // should, 1 with the reasons on stderr), faults (1) or `stop` says so (4).
    int Run(KeyScript& script, const std::function<bool()>& stop);

private:
    void Load(const Program& program);
    // True once the program has returned to the OS.
    bool AtOsAddress(std::uint16_t pc);
    void RunUntilTick();
    void OnTick(KeyScript& script);
    // Hands a pending timer interrupt to the CPU if it takes one now.
    bool Deliver();
    void ShowScreen();
    std::vector<std::string> ExitProblems();
    // An event line at `when` (Unix time; 0: now), with --events.
    void Event(const std::string& what, double when = 0) const;

    Settings settings_;
    CalcPorts ports_;
    Machine machine_;
    HomeScreen screen_;
    Keypad keypad_;
    OsRoutines os_;
    Pacer pacer_;
    std::uint64_t cycles_per_tick_;
    std::uint64_t next_tick_;
    bool interrupt_pending_ = false;
    bool returned_ = false;
    unsigned long shown_changes_ = 0;
    unsigned long seen_changes_ = 0;
    unsigned quiet_ticks_ = 0;
    unsigned unshown_ticks_ = 0;
    std::string shown_text_;
};

}  // namespace z80calc
