// The line driver and the time-bounded link on the virtual cable.
#include "tty_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "timed_link.h"
#include "virtual_cable.h"

namespace nightjar::native {
namespace {

using namespace std::chrono_literals;
using testing::VirtualCable;
using tty::OpenFailure;
using tty::TtyLines;
using tty::WaitResult;
using tty::WireStates;

struct Ends {
    std::unique_ptr<TtyLines> pc = TtyLines::Open(VirtualCable::Get().EndPath(0));
    std::unique_ptr<TtyLines> calc = TtyLines::Open(VirtualCable::Get().EndPath(1));
};

TEST(TtyLines, EachWirePulledAtOneEndReadsPulledAtBoth)
{
    Ends e;
    EXPECT_EQ(e.calc->Inputs(), (WireStates{true, true}));
    e.pc->PutWireAOutput(link::kPullWireA);
    EXPECT_EQ(e.calc->Inputs(), (WireStates{false, true}));
    EXPECT_EQ(e.pc->Outputs(), (WireStates{false, true}));
    e.calc->PutWireBOutput(false);
    EXPECT_EQ(e.pc->Inputs(), (WireStates{false, false}));
    EXPECT_FALSE(e.pc->WireBInput());
    e.pc->ReleaseBoth();
    e.calc->ReleaseBoth();
    EXPECT_EQ(e.pc->Inputs(), (WireStates{true, true}));
}

TEST(TtyLines, IdleWaitWakesOnAPullAndEndsAtItsBoundOrWhenInterrupted)
{
    Ends e;
    const unsigned before = VirtualCable::Get().Waiters();
    auto woke = std::async(std::launch::async, [&] { return e.pc->WaitForChange(60s); });
    VirtualCable::Get().AwaitWaiters(before + 1);
    e.calc->PutWireAOutput(link::kPullWireA);
    EXPECT_EQ(woke.get(), WaitResult::Changed);
    e.calc->ReleaseBoth();

    EXPECT_EQ(e.pc->WaitForChange(20ms), WaitResult::TimedOut);
    e.pc->Interrupt();
    EXPECT_EQ(e.pc->WaitForChange(60s), WaitResult::Interrupted);

    auto interrupted = std::async(std::launch::async, [&] { return e.pc->WaitForChange(60s); });
    VirtualCable::Get().AwaitWaiters(before + 1);
    e.pc->Interrupt();
    EXPECT_EQ(interrupted.get(), WaitResult::Interrupted);
    EXPECT_TRUE(e.pc->HasModemWait());
}

TEST(TtyLines, WithoutModemWaitInTheDriverTheWaitPolls)
{
    Ends e;
    setenv(NJ_CABLE_NO_IWAIT_ENV, "1", 1);
    EXPECT_EQ(e.pc->WaitForChange(5ms), WaitResult::TimedOut);
    EXPECT_FALSE(e.pc->HasModemWait());
    auto woke = std::async(std::launch::async, [&] { return e.pc->WaitForChange(60s, WireStates{true, true}); });
    e.calc->PutWireBOutput(false);
    EXPECT_EQ(woke.get(), WaitResult::Changed);
    e.calc->ReleaseBoth();
    unsetenv(NJ_CABLE_NO_IWAIT_ENV);
}

TEST(TtyLines, AnUnpluggedPortSaysTheDeviceIsGone)
{
    Ends e;
    const unsigned before = VirtualCable::Get().Waiters();
    auto waiting = std::async(std::launch::async, [&] { return e.pc->WaitForChange(60s); });
    VirtualCable::Get().AwaitWaiters(before + 1);
    VirtualCable::Get().Unplug(0);
    try {
        waiting.get();
        ADD_FAILURE() << "the wait did not fail";
    } catch (const tty::LineError& error) {
        EXPECT_TRUE(error.DeviceGone());
    }
    EXPECT_THROW(e.pc->Inputs(), tty::LineError);
    VirtualCable::Get().Plug(0);
    EXPECT_EQ(e.pc->Inputs(), (WireStates{true, true}));
}

OpenFailure FailureOpening(const std::string& path)
{
    try {
        TtyLines::Open(path);
    } catch (const tty::OpenError& error) {
        return error.failure();
    }
    return OpenFailure::Other;
}

TEST(TtyLines, OpenTellsWhatIsWrongWithADevice)
{
    EXPECT_EQ(FailureOpening("/nonexistent/ttyUSB9"), OpenFailure::NotFound);
    EXPECT_EQ(FailureOpening("/dev/null"), OpenFailure::NotSerial);
    const int pty = posix_openpt(O_RDWR | O_NOCTTY);  // a terminal without modem lines
    ASSERT_GE(pty, 0);
    ASSERT_EQ(grantpt(pty) | unlockpt(pty), 0);
    EXPECT_EQ(FailureOpening(ptsname(pty)), OpenFailure::NotSerial);
    close(pty);
}

// ---- the link with its waits bounded in time ----

TEST(TimedLink, CarriesEveryByteValueAndStrings)
{
    Ends e;
    TimedLink pc(*e.pc), calc(*e.calc);
    auto received = std::async(std::launch::async, [&] {
        std::vector<int> bytes;
        for (int i = 0; i < 256; ++i) {
            if (!calc.WaitForSender(10s)) break;
            bytes.push_back(calc.ReceiveByte());
        }
        return bytes;
    });
    for (int i = 0; i < 256; ++i) pc.SendByte(static_cast<std::uint8_t>(i));
    const std::vector<int> bytes = received.get();
    ASSERT_EQ(bytes.size(), 256U);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(bytes[i], i);

    auto string = std::async(std::launch::async, [&] {
        std::string text;
        while (calc.WaitForSender(10s)) {
            const std::uint8_t b = calc.ReceiveByte();
            if (b == 0) break;
            text.push_back(static_cast<char>(b));
        }
        return text;
    });
    for (const char c : std::string("Caf\xe9")) pc.SendByte(static_cast<std::uint8_t>(c));
    pc.SendByte(0);
    EXPECT_EQ(string.get(), "Caf\xe9");
}

TEST(TimedLink, ASilentFarEndEndsTheByteInTimeWithTheWiresReleased)
{
    Ends e;
    TimedLink pc(*e.pc, 50ms);
    EXPECT_THROW(pc.SendByte(0x55), HandshakeTimeout);
    EXPECT_EQ(e.pc->Outputs(), (WireStates{true, true}));
    EXPECT_EQ(e.calc->Inputs(), (WireStates{true, true}));
}

TEST(TimedLink, AFarEndThatStopsMidByteLosesThatByteOnly)
{
    Ends e;
    TimedLink pc(*e.pc, 100ms), calc(*e.calc, 100ms);
    // The calculator sends a 1 bit by hand, then goes quiet.
    auto stopped = std::async(std::launch::async, [&] {
        e.calc->PutWireBOutput(false);
        while (e.calc->WireAInput()) e.calc->WaitForChange(10ms);
        e.calc->PutWireBOutput(true);
    });
    ASSERT_TRUE(pc.WaitForSender(10s));
    EXPECT_THROW(pc.ReceiveByte(), HandshakeTimeout);
    stopped.get();

    auto next = std::async(std::launch::async, [&] { calc.SendByte(52); });
    ASSERT_TRUE(pc.WaitForSender(10s));
    EXPECT_EQ(pc.ReceiveByte(), 52);
    next.get();
}

}  // namespace
}  // namespace nightjar::native
