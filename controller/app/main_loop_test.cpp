#include "main_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plavox/dispids.h"

namespace nightjar::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The calculator at the far end, answering every handshake at once. It
// collects the bytes it is sent and sends the bytes queued for it.
class FakeCalculator : public link::Lines {
public:
    std::vector<unsigned> received;
    int slowness = 0;  // reads the calculator lets pass before it moves, so the link has to wait

    void Queue(std::uint8_t byte)
    {
        for (int i = 0; i < 8; ++i) to_send_.push_back((byte >> i) & 1);
    }

    void PutWireAOutput(std::int32_t value) override
    {
        ours_a_ = value == link::kReleaseWireA;
        StepOnPut();
    }
    void PutWireBOutput(bool released) override
    {
        ours_b_ = released;
        StepOnPut();
    }
    bool WireAInput() override
    {
        StepWhenReady();
        return ours_a_ && theirs_a_;
    }
    bool WireBInput() override
    {
        StepWhenReady();
        return ours_b_ && theirs_b_;
    }

private:
    // A slow calculator is slow to answer, but never misses the link letting go.
    void StepWhenReady()
    {
        if (slowness == 0 || ++ticks_ % (slowness + 1) == 0) Step();
    }
    void StepOnPut()
    {
        if (slowness == 0 || state_ != State::Idle) Step();
    }
    void Step()
    {
        switch (state_) {
        case State::Idle:
            if (!ours_a_) {
                theirs_b_ = false;
                state_ = State::Got0;
            } else if (!ours_b_) {
                theirs_a_ = false;
                state_ = State::Got1;
            } else if (!to_send_.empty()) {
                (to_send_.front() ? theirs_b_ : theirs_a_) = false;
                state_ = State::Sending;
            }
            break;
        case State::Got0:
        case State::Got1:
            if (ours_a_ && ours_b_) {
                theirs_a_ = theirs_b_ = true;
                TakeBit(state_ == State::Got1);
                state_ = State::Idle;
            }
            break;
        case State::Sending:
            if (to_send_.front() ? !ours_a_ : !ours_b_) {
                theirs_a_ = theirs_b_ = true;
                state_ = State::Acked;
            }
            break;
        case State::Acked:
            if (ours_a_ && ours_b_) {
                to_send_.pop_front();
                state_ = State::Idle;
            }
            break;
        }
    }
    void TakeBit(bool one)
    {
        if (one) byte_ |= 1U << bits_;
        if (++bits_ == 8) {
            received.push_back(byte_);
            byte_ = 0;
            bits_ = 0;
        }
    }

    enum class State { Idle, Got0, Got1, Sending, Acked } state_ = State::Idle;
    bool ours_a_ = true, ours_b_ = true, theirs_a_ = true, theirs_b_ = true;
    std::deque<int> to_send_;
    unsigned byte_ = 0;
    int bits_ = 0;
    int ticks_ = 0;
};

struct FakeWindow : LoopWindow {
    std::u16string title, artist, pass_title, pass_artist, last_title, last_artist;
    bool stop = false;
    bool visible = true;
    std::vector<std::int32_t> player_calls;
    int yields = 0;
    std::function<void()> on_yield = [] {};

    bool StopWasRequested() const override { return stop; }
    void TakePassRecord() override
    {
        pass_title = title;
        pass_artist = artist;
    }
    std::u16string_view PassTitle() const override { return pass_title; }
    std::u16string_view PassArtist() const override { return pass_artist; }
    std::u16string_view LastSentTitle() const override { return last_title; }
    void KeepPassRecordAsLastSent() override
    {
        last_title = pass_title;
        last_artist = pass_artist;
    }
    void CallPlayer(std::int32_t dispid) override { player_calls.push_back(dispid); }
    void ToggleVisibility() override { visible = !visible; }
    void YieldToMessages() override
    {
        ++yields;
        on_yield();
    }

    void TrackChanged(std::u16string new_artist, std::u16string new_title)
    {
        artist = std::move(new_artist);
        title = std::move(new_title);
    }
};

// The loop's own reads of the wires (the link's waits read the calculator
// directly), in order: "b" and "a".
struct PollLog : link::Lines {
    explicit PollLog(link::Lines& inner) : inner(inner) {}
    link::Lines& inner;
    std::string reads;
    std::function<void()> after_read = [] {};
    int Polls() const { return static_cast<int>(std::count(reads.begin(), reads.end(), 'b')); }

    void PutWireAOutput(std::int32_t) override { ADD_FAILURE() << "the loop drove wire A itself"; }
    void PutWireBOutput(bool) override { ADD_FAILURE() << "the loop drove wire B itself"; }
    bool WireAInput() override
    {
        reads += 'a';
        const bool released = inner.WireAInput();
        after_read();
        return released;
    }
    bool WireBInput() override
    {
        reads += 'b';
        const bool released = inner.WireBInput();
        after_read();
        return released;
    }
};

std::uint32_t Latin1(char16_t ch) { return ch; }

struct MainLoopTest : ::testing::Test {
    FakeCalculator calculator;
    PollLog poll_log{calculator};
    FakeWindow window;
    link::Xfer xfer{calculator, [this] { window.YieldToMessages(); }};
    MainLoop loop{window, xfer, poll_log, Latin1};
};

std::vector<unsigned> Announcement(const std::string& artist, const std::string& title)
{
    std::vector<unsigned> bytes(artist.begin(), artist.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), title.begin(), title.end());
    bytes.push_back(0);
    bytes.push_back(2);
    return bytes;
}

TEST_F(MainLoopTest, NothingIsAnnouncedUntilATitleArrivesAndIdlePassesPollTheLines)
{
    for (int i = 0; i < 3; ++i) loop.RunPass();
    EXPECT_THAT(calculator.received, IsEmpty());
    EXPECT_EQ(poll_log.reads, "bababa");  // wire B, then wire A, every pass
    EXPECT_EQ(window.yields, 3);
}

TEST_F(MainLoopTest, ANewTitleIsAnnouncedOnceAsArtistTitleAndEndByte)
{
    window.TrackChanged(u"Some Artist", u"Some Song");
    loop.RunPass();
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("Some Artist", "Some Song")));
    EXPECT_EQ(poll_log.Polls(), 0);  // an announcing pass does not poll

    calculator.received.clear();
    loop.RunPass();
    loop.RunPass();
    EXPECT_THAT(calculator.received, IsEmpty());
}

TEST_F(MainLoopTest, OnlyTitleChangesCountAndLetterCaseIsAChange)
{
    window.TrackChanged(u"A", u"song");
    loop.RunPass();
    calculator.received.clear();

    window.TrackChanged(u"Another Artist", u"song");
    loop.RunPass();
    EXPECT_THAT(calculator.received, IsEmpty());

    window.TrackChanged(u"Another Artist", u"Song");
    loop.RunPass();
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("Another Artist", "Song")));
}

TEST_F(MainLoopTest, AnEmptiedTitleIsAnnouncedOnceAsTwoBareTerminators)
{
    window.TrackChanged(u"A", u"T");
    loop.RunPass();
    calculator.received.clear();

    for (int i = 0; i < 3; ++i) {
        window.TrackChanged(u"", u"");  // the player went away: every tick repeats the emptied record
        loop.RunPass();
    }
    EXPECT_THAT(calculator.received, ElementsAre(0, 0, 2));
}

TEST_F(MainLoopTest, OnlyTheLatestOfSeveralChangesBetweenPassesIsAnnounced)
{
    window.on_yield = [&] {
        if (window.yields == 1) {
            window.TrackChanged(u"X", u"first");
            window.TrackChanged(u"Y", u"second");
        }
    };
    loop.RunPass();
    loop.RunPass();
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("Y", "second")));
}

TEST_F(MainLoopTest, ATrackChangeDuringAnAnnouncementIsAnnouncedWholeByTheNextPass)
{
    window.TrackChanged(u"A", u"one");
    calculator.slowness = 2;
    window.on_yield = [&] {
        if (window.yields == 1) window.TrackChanged(u"B", u"two");  // a yield inside a link wait
    };
    loop.RunPass();
    ASSERT_GT(window.yields, 1);
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("A", "one")));
    EXPECT_EQ(window.last_title, u"one");

    calculator.received.clear();
    loop.RunPass();
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("B", "two")));
}

TEST_F(MainLoopTest, ATrackChangeWhileACommandArrivesIsAnnouncedByTheNextPass)
{
    calculator.Queue(52);
    poll_log.after_read = [&] { calculator.slowness = 2; };  // the byte starts at once, then comes slowly
    window.on_yield = [&] {
        if (window.yields == 1) window.TrackChanged(u"B", u"two");
    };
    loop.RunPass();
    EXPECT_THAT(window.player_calls, ElementsAre(plavox::DISPID_PlayTrack));
    EXPECT_THAT(calculator.received, IsEmpty());
    loop.RunPass();
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("B", "two")));
}

TEST_F(MainLoopTest, EachCommandByteReachesItsPlayerMember)
{
    for (std::uint8_t byte : {2, 3, 49, 50, 51, 52, 53}) calculator.Queue(byte);
    for (int i = 0; i < 7; ++i) loop.RunPass();
    EXPECT_THAT(window.player_calls,
                ElementsAre(plavox::DISPID_SkipBack, plavox::DISPID_SkipFwd, plavox::DISPID_NextTrack,
                            plavox::DISPID_StopTrack, plavox::DISPID_PauseTrack, plavox::DISPID_PlayTrack,
                            plavox::DISPID_PrevTrack));
    EXPECT_TRUE(window.visible);
}

TEST_F(MainLoopTest, UnknownBytesDoNothingButThePassStillEnds)
{
    for (std::uint8_t byte : {0, 1, 4, 48, 55, 0x82, 255}) calculator.Queue(byte);
    for (int i = 0; i < 7; ++i) loop.RunPass();
    EXPECT_THAT(window.player_calls, IsEmpty());
    EXPECT_TRUE(window.visible);
    EXPECT_EQ(window.yields, 7);  // the calculator answers at once: only the end-of-pass yields
}

TEST_F(MainLoopTest, Byte54TogglesVisibilityBothWays)
{
    calculator.Queue(54);
    calculator.Queue(54);
    loop.RunPass();
    EXPECT_FALSE(window.visible);
    loop.RunPass();
    EXPECT_TRUE(window.visible);
    EXPECT_THAT(window.player_calls, IsEmpty());
}

TEST_F(MainLoopTest, ACloseRequestLetsThePassFinishAndEndsTheLoopAtTheNextCheck)
{
    window.TrackChanged(u"A", u"one");
    calculator.slowness = 2;
    size_t sent_at_close = 0;
    window.on_yield = [&] {
        if (window.yields != 1) return;
        window.stop = true;  // closed while the announcement waits
        sent_at_close = calculator.received.size();
    };
    loop.Run();
    EXPECT_LT(sent_at_close, Announcement("A", "one").size());
    EXPECT_THAT(calculator.received, ::testing::ElementsAreArray(Announcement("A", "one")));
    EXPECT_EQ(window.last_title, u"one");  // the pass completed its copy
    EXPECT_EQ(poll_log.Polls(), 0);  // no further pass ran
}

TEST_F(MainLoopTest, AnErrorInAPassLeavesTheLoop)
{
    struct FailingPlayer : FakeWindow {
        void CallPlayer(std::int32_t) override { throw std::runtime_error("player failed"); }
    } failing;
    link::Xfer xfer2{calculator, [] {}};
    MainLoop loop2{failing, xfer2, calculator, Latin1};
    calculator.Queue(52);
    EXPECT_THROW(loop2.Run(), std::runtime_error);
}

TEST_F(MainLoopTest, ACharacterOutsideOneByteFailsTheAnnouncement)
{
    window.TrackChanged(u"A\u4E2D", u"T");
    MainLoop strict{window, xfer, calculator, [](char16_t ch) -> std::uint32_t { return ch > 0xFF ? 0x8140 : ch; }};
    EXPECT_THROW(strict.RunPass(), link::LinkError);
    EXPECT_THAT(calculator.received, ElementsAre('A'));
}

TEST(CommandTable, OnlyTheListedBytesMeanAnything)
{
    int player = 0, toggle = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const Command command = LookUpCommand(static_cast<std::uint8_t>(byte));
        player += command.kind == CommandKind::Player;
        toggle += command.kind == CommandKind::ToggleWindow;
    }
    EXPECT_EQ(player, 7);
    EXPECT_EQ(toggle, 1);
    EXPECT_EQ(LookUpCommand(54).kind, CommandKind::ToggleWindow);
}

}  // namespace
}  // namespace nightjar::app
