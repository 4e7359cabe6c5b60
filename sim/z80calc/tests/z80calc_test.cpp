// What the system tests rely on the harness for: port 0 behaves on the
// cable as the calculator's does, a routine the harness does not answer and
// a calculator left in the wrong state end the run loudly, and the program's
// cycles take real time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "calculator.h"
#include "tty_lines.h"
#include "virtual_cable.h"

namespace z80calc {
namespace {

using nightjar::testing::VirtualCable;
using nightjar::tty::TtyLines;

constexpr std::uint8_t kRst28 = 0xEF, kRet = 0xC9, kHalt = 0x76, kDi = 0xF3, kEi = 0xFB;

std::vector<std::uint8_t> Bcall(std::uint16_t address)
{
    return {kRst28, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)};
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Outcome {
    int status;
    std::string errors;
    double seconds;
};

Outcome RunProgram(const std::vector<std::uint8_t>& code, const std::string& keys = "")
{
    const auto start = std::chrono::steady_clock::now();  // before the calculator's clock starts
    Calculator calculator(Program{"TEST", code}, nullptr, Settings{});
    KeyScript script(std::chrono::seconds(10));
    script.Add(keys);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = calculator.Run(script, [] { return false; });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    testing::internal::GetCapturedStdout();
    return {status, testing::internal::GetCapturedStderr(), took.count()};
}

TEST(LinkPort, ReadsAndDrivesTheCableAsTheCalculatorsPortZero)
{
    const auto& cable = VirtualCable::Get();
    const auto calc = TtyLines::Open(cable.EndPath(1));
    const auto pc = TtyLines::Open(cable.EndPath(0));
    LinkPort port(calc.get());
    EXPECT_EQ(port.Read(), 0x03);  // idle: both lines high
    ASSERT_TRUE(port.Write(1));   // the tip pulled
    EXPECT_EQ(pc->Inputs(), (nightjar::tty::WireStates{false, true}));
    EXPECT_EQ(port.Read(), 0x12);  // tip low, and held by us
    pc->PutWireBOutput(false);     // the PC answers on the ring
    EXPECT_EQ(port.Read(), 0x10);
    ASSERT_TRUE(port.Write(0));
    EXPECT_EQ(port.Read(), 0x01);  // the ring still low: the PC holds it
    pc->PutWireBOutput(true);
    EXPECT_EQ(port.Read(), 0x03);
    EXPECT_FALSE(port.Write(4));   // link assist's bit on the 83 Plus: refused, nothing driven
    EXPECT_EQ(pc->Inputs(), (nightjar::tty::WireStates{true, true}));
}

TEST(LinkPort, PortEightIsLinkAssistOnlyWhereTheModelHasIt)
{
    CalcPorts plain(Model::Ti83Plus, nullptr, [](const std::string&) {});
    EXPECT_EQ(plain.In(2) & 0x80, 0);
    plain.Out(8, 0x80);
    EXPECT_NE(plain.fault.find("port 8"), std::string::npos);
    CalcPorts se(Model::Ti84Plus, nullptr, [](const std::string&) {});
    EXPECT_EQ(se.In(2) & 0x80, 0x80);
    se.Out(8, 0x80);
    EXPECT_TRUE(se.fault.empty());
    EXPECT_EQ(se.LinkAssist(), 0x80);
    EXPECT_EQ(se.Link().Held(), 0);
}

TEST(OsRoutines, AnUnansweredRoutineEndsTheRunNamingItsAddress)
{
    const auto outcome = RunProgram(Bcall(0x4972) + std::vector<std::uint8_t>{kRet});  // _GetKey
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("bcall 4972h at 9D95h"), std::string::npos) << outcome.errors;
}

TEST(OsRoutines, TheStateTheProgramLeavesIsChecked)
{
    // Returns with the tip pulled and power-down off.
    const std::vector<std::uint8_t> careless{0x3E, 0x01, 0xD3, 0x00};  // ld a,1; out (0),a
    const auto bad = RunProgram(careless + Bcall(0x4C84) + std::vector<std::uint8_t>{kRet});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.errors.find("still pulls the link"), std::string::npos) << bad.errors;
    EXPECT_NE(bad.errors.find("power-down"), std::string::npos) << bad.errors;
    // Waits for CLEAR with halt and _GetCSC, then returns clean.
    const std::vector<std::uint8_t> wait_clear{kHalt, kRst28, 0x18, 0x40, 0xFE, 0x0F, 0x20, 0xF9, kRet};
    const auto good = RunProgram(wait_clear, "graph; clear");
    EXPECT_EQ(good.status, 0) << good.errors;
    const auto hung = RunProgram({kDi, kHalt, kRet});
    EXPECT_NE(hung.errors.find("halt at 9D96h with interrupts disabled"), std::string::npos) << hung.errors;
}

TEST(ProgramFile, WhatIsNoProgramIsRefusedInWords)
{
    EXPECT_THROW(ReadProgramFile("/nonexistent/NIGHTJAR.8xp"), ProgramError);
    char path[] = "/tmp/z80calc-test.XXXXXX.8xp";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    const char text[] = "**TI83F*\x1a\x0a not really";  // a signature, then nothing a reader can take
    ASSERT_EQ(write(fd, text, sizeof(text)), static_cast<ssize_t>(sizeof(text)));
    close(fd);
    EXPECT_THROW(ReadProgramFile(path), ProgramError);
    unlink(path);
}

TEST(Pacing, CyclesAndTicksTakeRealTime)
{
    // 46 154 passes of 26 T-states with interrupts off: 200 ms at 6 MHz.
    const std::vector<std::uint8_t> spin{kDi, 0x01, 0x4A, 0xB4,  // ld bc,46154
                                         0x0B, 0x78, 0xB1, 0x20, 0xFB, kEi, kRet};  // dec bc; ld a,b; or c; jr nz
    const auto spun = RunProgram(spin);
    EXPECT_EQ(spun.status, 0) << spun.errors;
    // Never early by more than the pacer lets the CPU run ahead.
    const double slack = std::chrono::duration<double>(Pacer::kSlack).count() + 0.0005;
    EXPECT_GE(spun.seconds, 0.200 - slack);
    EXPECT_LT(spun.seconds, 2.0);
    // 30 halts: 30 ticks of 118 Hz, 254 ms.
    const std::vector<std::uint8_t> sleep{0x06, 30, kHalt, 0x10, 0xFD, kRet};  // ld b,30; halt; djnz
    const auto slept = RunProgram(sleep);
    EXPECT_EQ(slept.status, 0) << slept.errors;
    EXPECT_GE(slept.seconds, 30 / kTickHz - slack);
    EXPECT_LT(slept.seconds, 2.0);
}

}  // namespace
}  // namespace z80calc
