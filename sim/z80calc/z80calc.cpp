// z80calc: runs a TI-83 Plus assembly program (.8xp) without a ROM, on one
// end of the virtual cable. See README.md.
//
//   z80calc [--device END] [--model 83p|83pse|84p] [--mhz MHZ]
//           [--keys FILE] [--key-script STEPS] [--events] PROGRAM.8xp
//
// The screen is printed to standard output whenever it changes. Keys come
// from the script, then from standard input: single keys from a terminal,
// script steps line by line otherwise.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "calculator.h"
#include "input_reader.h"
#include "raw_terminal.h"
#include "stop_signal.h"
#include "tty_lines.h"

namespace {

using namespace z80calc;
using nightjar::native::InputReader;
using nightjar::native::RawTerminal;
using nightjar::native::StopSignal;

constexpr std::chrono::seconds kWaitLimit{30};

struct Options {
    std::string device;
    std::string program;
    std::string script;
    Settings settings;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char* const kUsage =
    "usage: z80calc [--device END] [--model 83p|83pse|84p] [--mhz MHZ] [--keys FILE] [--key-script STEPS]\n"
    "               [--events] PROGRAM.8xp\n";

Model ModelOf(const std::string& name)
{
    if (name == "83p") return Model::Ti83Plus;
    if (name == "83pse") return Model::Ti83PlusSE;
    if (name == "84p") return Model::Ti84Plus;
    throw UsageError("--model is 83p, 83pse or 84p, not " + name);
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw UsageError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--device") {
            options.device = value();
        } else if (arg == "--model") {
            options.settings.model = ModelOf(value());
        } else if (arg == "--mhz") {
            const std::string mhz = value();
            options.settings.mhz = std::atof(mhz.c_str());
            if (options.settings.mhz < 1 || options.settings.mhz > 50) throw UsageError("--mhz: 1 to 50, not " + mhz);
        } else if (arg == "--keys") {
            options.script += ReadWhole(value()) + "\n";
        } else if (arg == "--key-script") {
            options.script += value() + "\n";
        } else if (arg == "--events") {
            options.settings.events = true;
        } else if (arg.starts_with("-") || !options.program.empty()) {
            throw UsageError("unexpected argument " + arg);
        } else {
            options.program = arg;
        }
    }
    if (options.program.empty()) throw UsageError("which program?");
    return options;
}

// Standard input: terminal keys, or script steps a line at a time.
InputReader ReadKeys(bool terminal, KeyScript& script)
{
    if (terminal) {
        return InputReader(STDIN_FILENO, InputReader::Mode::Chunks, [&script](std::string_view bytes) {
            if (const auto key = TerminalKey(bytes)) script.Add(KeyName(*key));
        });
    }
    return InputReader(
        STDIN_FILENO, InputReader::Mode::Lines,
        [&script](std::string_view line) {
            try {
                script.Add(line);
            } catch (const ScriptError& error) {
                std::fprintf(stderr, "z80calc: %s\n", error.what());
            }
        },
        [&script] { script.Finish(); });
}

int Run(const Options& options)
{
    StopSignal stop;
    const Program program = ReadProgramFile(options.program);
    std::unique_ptr<nightjar::tty::TtyLines> lines;
    if (!options.device.empty()) lines = nightjar::tty::TtyLines::Open(options.device);
    KeyScript script(kWaitLimit);
    script.Add(options.script);
    const RawTerminal terminal(STDIN_FILENO);
    Settings settings = options.settings;
    if (terminal.active() && isatty(STDOUT_FILENO)) settings.redraw = kTerminalHelp;
    Calculator calculator(program, lines.get(), settings);
    const InputReader input = ReadKeys(terminal.active(), script);
    std::fprintf(stderr, "z80calc: running %s at %g MHz%s%s\n", program.name.c_str(), options.settings.mhz,
                 lines ? " on " : "", options.device.c_str());
    return calculator.Run(script, [&stop] { return stop.Requested(); });
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(ParseOptions(argc, argv));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "z80calc: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const ScriptError& error) {
        std::fprintf(stderr, "z80calc: key script: %s\n", error.what());
        return 2;
    } catch (const ProgramError& error) {
        std::fprintf(stderr, "z80calc: %s\n", error.what());
        return 3;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "z80calc: %s\n", error.what());
        return 1;
    }
}
