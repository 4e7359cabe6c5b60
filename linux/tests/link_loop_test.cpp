// The native program's loop on the virtual cable, with the calculator's end
// played by our own link at the other end and a fake player side.
#include "link_loop.h"
#include "timed_link.h"
#include "tty_lines.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <random>
#include <thread>

#include "virtual_cable.h"

namespace nightjar::native {
namespace {

using namespace std::chrono_literals;
using testing::VirtualCable;

class FakePlayer final : public PlayerSide {
public:
    void Start(PlayerEvents&) override {}
    void Stop() override {}
    void Carry(std::uint8_t byte, const app::Command& command) override
    {
        const std::lock_guard lock(mutex_);
        calls_.push_back({byte, command.dispid});
        changed_.notify_all();
    }
    // The next call, once it is made (a call that never comes fails the
    // test rather than hanging it).
    std::pair<std::uint8_t, std::int32_t> NextCall()
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 30s, [&] { return taken_ < calls_.size(); })) {
            ADD_FAILURE() << "no player call";
            return {};
        }
        return calls_[taken_++];
    }
    // Whether a call for `byte` comes within `bound`.
    bool AwaitCall(std::uint8_t byte, std::chrono::milliseconds bound)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] {
            for (; taken_ < calls_.size(); ++taken_)
                if (calls_[taken_].first == byte) return true;
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::uint8_t, std::int32_t>> calls_;
    std::size_t taken_ = 0;
};

// nightjar's loop on end 0, running in a thread; the calculator on end 1.
// The loop's log lines, waited for.
class LogLines {
public:
    void Take(std::string_view line)
    {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
        changed_.notify_all();
    }
    bool AwaitLineWith(std::string_view text)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] {
            for (; seen_ < lines_.size(); ++seen_)
                if (lines_[seen_].find(text) != std::string::npos) return true;
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::size_t seen_ = 0;
};

class LoopOnCable : public ::testing::Test {
protected:
    void SetUp() override
    {
        pc_ = tty::TtyLines::Open(VirtualCable::Get().EndPath(0));
        calc_lines_ = tty::TtyLines::Open(VirtualCable::Get().EndPath(1));
        calc_ = std::make_unique<TimedLink>(*calc_lines_, 10s);
        pc_link_ = std::make_unique<TimedLink>(*pc_, 200ms);
        running_ = std::async(std::launch::async, [this] { return loop_.Run(*pc_link_); });
    }
    void TearDown() override
    {
        loop_.RequestStop();
        EXPECT_EQ(running_.get(), LinkLoop::End::Stopped);
    }

    std::uint8_t CalcReceives()
    {
        EXPECT_TRUE(calc_->WaitForSender(10s));
        return calc_->ReceiveByte();
    }
    std::vector<int> CalcReceivesAnnouncement()
    {
        std::vector<int> bytes;
        int zeros = 0;
        while (zeros < 2) {
            bytes.push_back(CalcReceives());
            zeros += bytes.back() == 0;
        }
        bytes.push_back(CalcReceives());
        return bytes;
    }

    LogLines log_lines_;
    Log log_{false, [this](std::string_view line) { log_lines_.Take(line); }};
    FakePlayer player_;
    LinkLoop loop_{player_, log_};
    std::unique_ptr<tty::TtyLines> pc_, calc_lines_;
    std::unique_ptr<TimedLink> calc_, pc_link_;
    std::future<LinkLoop::End> running_;
};

TEST_F(LoopOnCable, EveryPlayerByteReachesThePlayerAsItsTableEntry)
{
    for (const std::uint8_t byte : {2, 3, 49, 50, 51, 52, 53, 54, 7, 52}) calc_->SendByte(byte);
    // 54 (show/hide) and 7 call nobody.
    const std::pair<std::uint8_t, std::int32_t> expected[] = {
        {2, 0x6003000B}, {3, 0x6003000A}, {49, 0x60030008}, {50, 0x60030007},
        {51, 0x60030006}, {52, 0x60030005}, {53, 0x60030009}, {52, 0x60030005}};
    for (const auto& call : expected) EXPECT_EQ(player_.NextCall(), call);
}

TEST_F(LoopOnCable, TracksAreAnnouncedOnceEachAndTheGonePlayerOnceEmptied)
{
    loop_.TrackChanged({"Art", "Caf\xc3\xa9 \xe2\x82\xac \xe2\x98\x83"});
    EXPECT_EQ(CalcReceivesAnnouncement(),
              (std::vector<int>{'A', 'r', 't', 0, 'C', 'a', 'f', 0xE9, ' ', 0x80, ' ', '?', 0, 2}));
    // Same title, other artist: nothing, as in Nightjar.exe; the next byte
    // from the calculator still goes through.
    loop_.TrackChanged({"Other", "Caf\xc3\xa9 \xe2\x82\xac \xe2\x98\x83"});
    calc_->SendByte(51);
    EXPECT_EQ(player_.NextCall().first, 51);
    loop_.PlayerGone();
    EXPECT_EQ(CalcReceivesAnnouncement(), (std::vector<int>{0, 0, 2}));
    loop_.PlayerGone();
    calc_->SendByte(50);
    EXPECT_EQ(player_.NextCall().first, 50);
    loop_.TrackChanged({"", "Next"});
    EXPECT_EQ(CalcReceivesAnnouncement(), (std::vector<int>{0, 'N', 'e', 'x', 't', 0, 2}));
}

TEST_F(LoopOnCable, ACalculatorThatStopsMidByteCostsThatByteOnly)
{
    // Three bits of a byte by hand, then nothing: the loop drops it.
    for (int bit = 0; bit < 3; ++bit) {
        calc_lines_->PutWireBOutput(false);  // a 1 bit
        while (calc_lines_->WireAInput()) calc_lines_->WaitForChange(10ms);
        calc_lines_->PutWireBOutput(true);
        while (!calc_lines_->WireAInput()) calc_lines_->WaitForChange(10ms);
    }
    ASSERT_TRUE(log_lines_.AwaitLineWith("byte from the calculator dropped"));
    calc_->SendByte(49);
    EXPECT_EQ(player_.NextCall().first, 49);
}

TEST_F(LoopOnCable, ACalculatorSwitchedOffMidAnnouncementGetsTheNextTrack)
{
    loop_.TrackChanged({"A", "First"});
    EXPECT_EQ(CalcReceives(), 'A');
    EXPECT_EQ(CalcReceives(), 0);
    // The calculator stops listening; the loop gives up on this track...
    ASSERT_TRUE(log_lines_.AwaitLineWith("announcement of \"A\" / \"First\" dropped"));
    loop_.TrackChanged({"B", "Second"});
    // ...and announces the next one whole.
    std::vector<int> got;
    do got.push_back(CalcReceives());
    while (got.back() != 2);
    EXPECT_EQ(got, (std::vector<int>{'B', 0, 'S', 'e', 'c', 'o', 'n', 'd', 0, 2}));
}

TEST_F(LoopOnCable, AHeldWireIsOneDroppedByteNeverTheStartOfTheNext)
{
    // Answered, then held: the byte is broken off. A loop that took the
    // still-held wire as a new byte would read its release as a bit and
    // carry out the next key shifted by one (52 as 104).
    calc_lines_->PutWireAOutput(link::kPullWireA);
    ASSERT_TRUE(log_lines_.AwaitLineWith("byte from the calculator dropped"));
    calc_lines_->ReleaseBoth();
    ASSERT_TRUE(log_lines_.AwaitLineWith("the wires are idle again"));
    calc_->SendByte(52);
    EXPECT_EQ(player_.NextCall().first, 52);
}

TEST_F(LoopOnCable, RandomPullsOnTheWiresNeverStopTheLoop)
{
    std::mt19937 random(1234);
    for (int i = 0; i < 200; ++i) {
        const unsigned r = random();
        calc_lines_->PutWireAOutput(r & 1 ? link::kPullWireA : link::kReleaseWireA);
        calc_lines_->PutWireBOutput((r & 2) != 0);
        if (r & 4) std::this_thread::yield();
    }
    calc_lines_->ReleaseBoth();
    // Whatever came of the noise, the calculator's byte gets through once
    // the loop has dropped the half-byte the noise left it in, if any.
    bool through = false;
    for (int attempt = 0; attempt < 20 && !through; ++attempt) {
        try {
            calc_->SendByte(53);
        } catch (const HandshakeTimeout&) {
        }
        through = player_.AwaitCall(53, 1s);
    }
    EXPECT_TRUE(through);
}

TEST(LinkLoop, ADeviceThatGoesAwayEndsTheRun)
{
    Log log(false);
    FakePlayer player;
    LinkLoop loop(player, log);
    auto pc = tty::TtyLines::Open(VirtualCable::Get().EndPath(0));
    TimedLink link(*pc);
    auto running = std::async(std::launch::async, [&] { return loop.Run(link); });
    VirtualCable::Get().AwaitWaiters(1);
    VirtualCable::Get().Unplug(0);
    EXPECT_EQ(running.get(), LinkLoop::End::DeviceGone);
    VirtualCable::Get().Plug(0);
}

}  // namespace
}  // namespace nightjar::native
