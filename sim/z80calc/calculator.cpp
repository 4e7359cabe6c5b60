#include "calculator.h"

#include <cstdio>
#include <ctime>

namespace z80calc {
namespace {

// The ROM as the harness fills it: the interrupt handler standing in for the
// OS's (ei, ret: its cycles are counted), and where the program returns to.
constexpr std::uint16_t kInterruptVector = 0x0038;
constexpr std::uint8_t kInterruptStub[] = {0xFB, 0xC9};
constexpr std::uint16_t kOsReturn = 0x0040;
constexpr std::uint16_t kStackAtStart = 0xFFC5;  // with the return address on it
constexpr std::uint16_t kStackAtReturn = kStackAtStart + 2;
// How many T-states may pass between two looks at the wall clock.
constexpr std::uint64_t kPaceEvery = 600;
// A screen is shown once a tick has passed without a change (a routine
// drawing it is done), or after this many ticks of changes.
constexpr unsigned kMostUnshownTicks = 12;

}  // namespace

Calculator::Calculator(const Program& program, nightjar::link::Lines* lines, const Settings& settings)
    : settings_(settings),
      ports_(settings.model, lines, [this](const std::string& what) { Event(what); }),
      machine_(ports_),
      screen_(machine_),
      os_(machine_, screen_, keypad_),
      pacer_(settings.mhz * 1e6),
      cycles_per_tick_(static_cast<std::uint64_t>(settings.mhz * 1e6 / kTickHz)),
      next_tick_(cycles_per_tick_)
{
    Load(program);
}

void Calculator::Load(const Program& program)
{
    for (unsigned address = 0; address < kRamStart; ++address) machine_.Poke(static_cast<std::uint16_t>(address), 0xFF);
    for (std::size_t i = 0; i < sizeof(kInterruptStub); ++i)
        machine_.Poke(static_cast<std::uint16_t>(kInterruptVector + i), kInterruptStub[i]);
    for (std::size_t i = 0; i < program.code.size(); ++i)
        machine_.Poke(static_cast<std::uint16_t>(kProgramStart + i), program.code[i]);
    screen_.HomeUp();
    machine_.SetReg(regSP, kStackAtReturn);
    machine_.Push(kOsReturn);
    machine_.SetReg(regIY, kFlagsBase);
    machine_.SetReg(regPC, kProgramStart);
    machine_.SetReg(regIM, 1);
    machine_.SetReg(regIFF1, 1);
    machine_.SetReg(regIFF2, 1);
}

bool Calculator::AtOsAddress(std::uint16_t pc)
{
    if (pc == kBcallVector) {
        pacer_.Advance(static_cast<std::uint64_t>(os_.Bcall()));
        return false;
    }
    if (pc == kOsReturn) return returned_ = true;
    if (pc < kInterruptVector || pc >= kInterruptVector + sizeof(kInterruptStub))
        throw Fault("jump to " + Hex(pc) + " in the OS's flash (only bcalls reach the OS)");
    return false;
}

void Calculator::RunUntilTick()
{
    std::uint64_t paced = pacer_.Cycles();
    while (pacer_.Cycles() < next_tick_) {
        const std::uint16_t pc = machine_.Reg(regPC);
        if (pc < kRamStart && AtOsAddress(pc)) return;
        if (interrupt_pending_ && Deliver()) continue;
        if (machine_.Halted()) {
            if (!machine_.InterruptsEnabled())
                throw Fault("halt at " + Hex(pc) + " with interrupts disabled: the calculator hangs until reset");
            pacer_.SleepUntil(next_tick_);
            return;
        }
        pacer_.Advance(static_cast<std::uint64_t>(machine_.Step()));
        if (pacer_.Cycles() - paced >= kPaceEvery) {
            paced = pacer_.Cycles();
            const std::uint8_t levels = ports_.In(0);
            pacer_.Keep([&] { return ports_.In(0) != levels; });
        }
    }
}

// The timer fires whether or not the CPU takes it; it stays pending until
// interrupts are enabled, as the hardware holds its line.
void Calculator::OnTick(KeyScript& script)
{
    next_tick_ += cycles_per_tick_;
    interrupt_pending_ = true;
    const unsigned long changes = screen_.Changes();
    quiet_ticks_ = changes == seen_changes_ ? quiet_ticks_ + 1 : 0;
    seen_changes_ = changes;
    if (changes != shown_changes_ && (quiet_ticks_ > 0 || ++unshown_ticks_ >= kMostUnshownTicks)) ShowScreen();
    // The script sees what a person would: the screens shown.
    script.Advance(keypad_, shown_text_);
}

bool Calculator::Deliver()
{
    if (!machine_.InterruptsEnabled()) return false;
    const int tstates = machine_.Interrupt();
    if (tstates == 0) return false;
    pacer_.Advance(static_cast<std::uint64_t>(tstates));
    interrupt_pending_ = false;
    // The OS's handler scans the keypad.
    if (const auto key = keypad_.Scan()) {
        Event("key " + KeyName(key->scan_code) + " (" + Hex(key->scan_code, 2) + ") scanned");
        if (key->collide) ports_.ArmCollision();
    }
    return true;
}

void Calculator::ShowScreen()
{
    if (screen_.Changes() == shown_changes_) return;
    shown_changes_ = screen_.Changes();
    unshown_ticks_ = 0;
    shown_text_ = screen_.Text();
    if (!settings_.redraw.empty()) std::fputs("\x1b[H\x1b[2J", stdout);
    std::fputs(screen_.Frame().c_str(), stdout);
    if (!settings_.redraw.empty()) std::printf("%s\n", settings_.redraw.c_str());
    std::fflush(stdout);
    Event("screen changed", screen_.LastChangeTime());
}

void Calculator::Event(const std::string& what, double when) const
{
    if (!settings_.events) return;
    if (when == 0) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        when = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
    std::fprintf(stderr, "z80calc: %.6f %s\n", when, what.c_str());
}

int Calculator::Run(KeyScript& script, const std::function<bool()>& stop)
{
    try {
        while (!returned_) {
            if (stop()) {
                ShowScreen();
                std::fprintf(stderr, "z80calc: stopped while the program ran\n");
                return 4;
            }
            RunUntilTick();
            if (pacer_.Cycles() >= next_tick_) OnTick(script);
        }
    } catch (const Fault& fault) {
        ShowScreen();
        std::fprintf(stderr, "z80calc: fault: %s\n", fault.what());
        return 1;
    } catch (const ScriptError& error) {
        ShowScreen();
        std::fprintf(stderr, "z80calc: key script: %s\n", error.what());
        return 1;
    }
    ShowScreen();
    const auto problems = ExitProblems();
    for (const auto& problem : problems) std::fprintf(stderr, "z80calc: on return: %s\n", problem.c_str());
    if (problems.empty()) std::fprintf(stderr, "z80calc: the program returned and left the calculator as it found it\n");
    if (pacer_.Slips() > 0) std::fprintf(stderr, "z80calc: fell behind real time %u times\n", pacer_.Slips());
    return problems.empty() ? 0 : 1;
}

std::vector<std::string> Calculator::ExitProblems()
{
    std::vector<std::string> problems;
    const auto check = [&](bool good, const std::string& problem) {
        if (!good) problems.push_back(problem);
    };
    check(machine_.Reg(regSP) == kStackAtReturn,
          "SP is " + Hex(machine_.Reg(regSP)) + ", not " + Hex(kStackAtReturn) + ": the stack is not balanced");
    check(ports_.Link().Held() == 0, "the program still pulls the link's lines (port 0 = " + Hex(ports_.Link().Held(), 2) + ")");
    check(os_.State().apd_enabled, "automatic power-down left disabled");
    check(os_.State().run_indicator_on, "the run indicator left off");
    check(!ports_.HasLinkAssist() || ports_.LinkAssist() == CalcPorts::kLinkAssistAtStart,
          "link assist (port 8) left at " + Hex(ports_.LinkAssist(), 2));
    check(machine_.Peek(kCurRow) < kRows && machine_.Peek(kCurCol) < kColumns, "the cursor left off the screen");
    check(machine_.Reg(regIY) == kFlagsBase, "IY left at " + Hex(machine_.Reg(regIY)));
    check(machine_.Reg(regIM) == 1 && machine_.InterruptsEnabled(), "interrupts not left on in mode 1");
    return problems;
}

}  // namespace z80calc
