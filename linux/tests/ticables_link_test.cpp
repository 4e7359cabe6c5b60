// The libticables2 layer's waits, on libticables2's black-cable driver over
// the virtual cable: the calculator's end is the cable's other end, driven
// wire by wire from here.
#include "ticables_link.h"

#include <gtest/gtest.h>

#include <future>

#include "tty_lines.h"
#include "virtual_cable.h"

namespace nightjar::native {
namespace {

using namespace std::chrono_literals;
using testing::VirtualCable;

// Far longer than anything here takes: a wait that is not ended fails the
// test instead of hanging it.
constexpr auto kLimit = 20s;

struct Ends {
    std::unique_ptr<tty::TtyLines> calc = tty::TtyLines::Open(VirtualCable::Get().EndPath(1));
    TicablesLink pc{TicablesCable::OpenSerial(TiCableModel::Black, VirtualCable::Get().EndPath(0))};
};

bool EndsWithin(std::future<void>& wait) { return wait.wait_for(kLimit) == std::future_status::ready; }

TEST(TicablesLink, AWaitEndsOnInterruptFromAnyThreadAndOnAPull)
{
    Ends e;
    ASSERT_EQ(e.pc.Look(), LinkState::Idle);
    // An Interrupt before the wait ends it too: a track that changed while
    // the loop was busy is not left waiting for the idle bound.
    e.pc.Interrupt();
    auto early = std::async(std::launch::async, [&] { e.pc.WaitForActivity(60s); });
    EXPECT_TRUE(EndsWithin(early));

    auto waiting = std::async(std::launch::async, [&] { e.pc.WaitForActivity(60s); });
    e.pc.Interrupt();
    EXPECT_TRUE(EndsWithin(waiting));

    auto pulled = std::async(std::launch::async, [&] { e.pc.WaitForActivity(60s); });
    e.calc->PutWireBOutput(false);
    EXPECT_TRUE(EndsWithin(pulled));
    EXPECT_EQ(e.pc.Look(), LinkState::SenderWaiting);
    e.calc->ReleaseBoth();
}

TEST(TicablesLink, AByteBrokenOffIsDroppedWithinItsBoundAndTheWireStillHeldIsNoNewByte)
{
    Ends e;
    e.calc->PutWireBOutput(false);  // a first bit begun, and never finished
    ASSERT_EQ(e.pc.Look(), LinkState::SenderWaiting);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(e.pc.ReceiveByte(), HandshakeTimeout);
    // libticables2's shortest timeout is a tenth of a second of processor
    // time, which its driver spends polling: the bound holds in wall time
    // unless the machine starves this process for over a second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(e.pc.Look(), LinkState::Settling);

    auto released = std::async(std::launch::async, [&] { e.pc.WaitForActivity(60s); });
    e.calc->ReleaseBoth();
    EXPECT_TRUE(EndsWithin(released));
    EXPECT_EQ(e.pc.Look(), LinkState::Idle);
}

}  // namespace
}  // namespace nightjar::native
