#include "xfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace nightjar::link {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The far end of the cable, stepped at every read the link makes, so it
// answers as fast as possible and the tests see every put in order.
class FakeCable : public Lines {
public:
    enum class Role { Receiver, Sender };

    // Log of what the link did: "A0"/"A2" for wire A puts, "B0"/"B1" for
    // wire B puts (0 pulls, 1 releases), "a"/"b" for reads.
    std::vector<std::string> log;
    std::vector<int> received_bits;  // bits the far end took in
    std::deque<int> bits_to_send;    // bits the far end sends
    int start_delay = 0;             // reads the far end lets pass before each bit it sends
    bool fail_everything = false;    // a closed port
    bool far_end_stuck = false;      // never answers

    void PutWireAOutput(std::int32_t value) override
    {
        CheckOpen();
        log.push_back("A" + std::to_string(value));
        ours_a_released_ = value == kReleaseWireA;
        Step();
    }
    void PutWireBOutput(bool released) override
    {
        CheckOpen();
        log.push_back(released ? "B1" : "B0");
        ours_b_released_ = released;
        Step();
    }
    bool WireAInput() override
    {
        CheckOpen();
        log.push_back("a");
        Step();
        return ours_a_released_ && theirs_a_released_;
    }
    bool WireBInput() override
    {
        CheckOpen();
        log.push_back("b");
        Step();
        return ours_b_released_ && theirs_b_released_;
    }

    void PullBothFromFarEnd() { theirs_a_released_ = theirs_b_released_ = false; }

    std::vector<std::string> Puts() const
    {
        std::vector<std::string> puts;
        for (const auto& entry : log)
            if (entry.size() == 2) puts.push_back(entry);
        return puts;
    }

private:
    void CheckOpen() const
    {
        if (fail_everything) throw LinkError(static_cast<std::int32_t>(0x80004005U), "port is closed");
    }

    void Step()
    {
        if (far_end_stuck) return;
        switch (state_) {
        case State::Idle:
            if (!ours_a_released_) {  // the link sends a 0: acknowledge on wire B
                theirs_b_released_ = false;
                state_ = State::Acked0;
            } else if (!ours_b_released_) {
                theirs_a_released_ = false;
                state_ = State::Acked1;
            } else if (!bits_to_send.empty() && ++waited_ > start_delay) {
                waited_ = 0;
                (bits_to_send.front() ? theirs_b_released_ : theirs_a_released_) = false;
                state_ = State::Sent;
            }
            break;
        case State::Acked0:
            if (ours_a_released_) {
                theirs_b_released_ = true;
                received_bits.push_back(0);
                state_ = State::Idle;
            }
            break;
        case State::Acked1:
            if (ours_b_released_) {
                theirs_a_released_ = true;
                received_bits.push_back(1);
                state_ = State::Idle;
            }
            break;
        case State::Sent:  // wait for the link's acknowledgement, then release
            if (bits_to_send.front() ? !ours_a_released_ : !ours_b_released_) {
                theirs_a_released_ = theirs_b_released_ = true;
                state_ = State::Released;
            }
            break;
        case State::Released:
            if (bits_to_send.front() ? ours_a_released_ : ours_b_released_) {
                bits_to_send.pop_front();
                state_ = State::Idle;
                Step();
            }
            break;
        }
    }

    enum class State { Idle, Acked0, Acked1, Sent, Released } state_ = State::Idle;
    bool ours_a_released_ = true, ours_b_released_ = true;
    bool theirs_a_released_ = true, theirs_b_released_ = true;
    int waited_ = 0;
};

std::vector<int> BitsOf(unsigned value)
{
    std::vector<int> bits;
    for (int i = 0; i < 8; ++i) bits.push_back((value >> i) & 1);
    return bits;
}

std::vector<unsigned> BytesOf(const std::vector<int>& bits)
{
    std::vector<unsigned> bytes;
    for (size_t i = 0; i + 8 <= bits.size(); i += 8) {
        unsigned value = 0;
        for (int j = 0; j < 8; ++j) value |= static_cast<unsigned>(bits[i + j]) << j;
        bytes.push_back(value);
    }
    return bytes;
}

std::uint32_t Latin1(char16_t ch) { return ch; }

struct LinkTest : ::testing::Test {
    FakeCable cable;
    int yields = 0;
    std::function<void()> on_yield = [] {};
    Xfer xfer{cable, [this] {
                  ++yields;
                  on_yield();
              }};
};

TEST_F(LinkTest, SendByteRunsOneHandshakePerBitLowBitFirstOnTheWireOfItsValue)
{
    std::uint8_t two = 2;  // not const: the link takes it by reference and must leave it alone
    xfer.SendByte(two);

    std::vector<std::string> expected = {"A0", "A2", "B0", "B1"};
    for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {"A0", "A2"});
    EXPECT_THAT(cable.Puts(), ElementsAreArray(expected));
    EXPECT_THAT(cable.received_bits, ElementsAreArray(BitsOf(2)));
    EXPECT_EQ(two, 2);
}

TEST_F(LinkTest, EveryByteValueCrossesInBothDirections)
{
    for (unsigned value = 0; value < 256; ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        xfer.SendByte(byte);
        for (int bit : BitsOf(value)) cable.bits_to_send.push_back(bit);
        EXPECT_EQ(xfer.ReceiveByte(), value);
    }
    std::vector<unsigned> all(256);
    for (unsigned i = 0; i < 256; ++i) all[i] = i;
    EXPECT_THAT(BytesOf(cable.received_bits), ElementsAreArray(all));
    EXPECT_EQ(xfer.LinkAborted, kFalse);
}

TEST_F(LinkTest, SenderWaitsForEachAcknowledgementYieldingBetweenPolls)
{
    cable.far_end_stuck = true;
    int polls_left = 5;
    on_yield = [&] {
        if (--polls_left == 0) cable.far_end_stuck = false;
    };
    const std::uint8_t one = 1;
    xfer.SendByte(one);
    EXPECT_EQ(yields, 5);
    EXPECT_THAT(cable.received_bits, ElementsAreArray(BitsOf(1)));
}

TEST_F(LinkTest, ReceiveBitReadsWireBThenWireAAndAcknowledgesOnTheOtherWire)
{
    for (int bit : BitsOf(49)) cable.bits_to_send.push_back(bit);
    EXPECT_EQ(xfer.ReceiveByte(), 49);
    // Bit 0 is a 1: the start wait reads b then a, the link then reads a once
    // more and answers by pulling wire A.
    EXPECT_THAT(std::vector<std::string>(cable.log.begin(), cable.log.begin() + 4),
                ElementsAre("b", "a", "a", "A0"));
    const auto puts = cable.Puts();
    EXPECT_THAT(std::vector<std::string>(puts.begin(), puts.begin() + 4), ElementsAre("A0", "A2", "B0", "B1"));
}

TEST_F(LinkTest, StartWaitGivesUpAfterTenThousandPolls)
{
    cable.far_end_stuck = true;
    int yield_when_aborted = 0;
    on_yield = [&] {
        if (xfer.LinkAborted == kTrue && yield_when_aborted == 0) yield_when_aborted = yields;
    };

    EXPECT_TRUE(xfer.ReceiveBit());  // wire A idle: a 1 bit

    EXPECT_EQ(yields, 9999);
    EXPECT_EQ(yield_when_aborted, 9999);  // set by the 9999th unsuccessful poll
    EXPECT_EQ(xfer.WaitCounter, 10000);
    EXPECT_EQ(xfer.LinkAborted, kTrue);
    const auto wire_b_reads = std::count(cable.log.begin(), cable.log.end(), "b");
    EXPECT_EQ(wire_b_reads, 10000 + 1);  // the polls, then the acknowledgement wait's one read
    EXPECT_THAT(cable.Puts(), ElementsAre("A0", "A2"));
}

TEST_F(LinkTest, AbortedLinkNeverWaitsAndReadsIdleWiresAsOnes)
{
    xfer.LinkAborted = kTrue;
    cable.far_end_stuck = true;

    EXPECT_EQ(xfer.ReceiveByte(), 255);
    EXPECT_EQ(yields, 0);
    std::vector<std::string> expected;
    for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {"A0", "A2"});
    EXPECT_THAT(cable.Puts(), ElementsAreArray(expected));

    cable.log.clear();
    const std::uint8_t zero = 0;
    xfer.SendByte(zero);  // drives every phase without waiting
    EXPECT_EQ(yields, 0);
    EXPECT_EQ(cable.Puts().size(), 16U);
    EXPECT_EQ(xfer.LinkAborted, kTrue);
}

TEST_F(LinkTest, BothWiresPulledAtTheStartIsAZeroBit)
{
    cable.far_end_stuck = true;
    cable.PullBothFromFarEnd();
    // The far end never releases wire A, so the acknowledgement wait would
    // run forever; end it by aborting from the yield.
    on_yield = [&] { xfer.LinkAborted = kTrue; };
    EXPECT_FALSE(xfer.ReceiveBit());
    EXPECT_THAT(cable.Puts(), ElementsAre("B0", "B1"));
}

TEST_F(LinkTest, PollBudgetIsCountedAfreshForEveryBit)
{
    cable.start_delay = 9000;  // each bit starts late, but within the budget
    for (int bit : BitsOf(0xA5)) cable.bits_to_send.push_back(bit);
    EXPECT_EQ(xfer.ReceiveByte(), 0xA5);
    EXPECT_EQ(xfer.LinkAborted, kFalse);
    EXPECT_GT(yields, 8 * 4000);
}

TEST_F(LinkTest, SendStringSendsEachCharacterThenTheTerminator)
{
    xfer.SendString(u"AB", Latin1);
    EXPECT_THAT(BytesOf(cable.received_bits), ElementsAre(65, 66, 0));

    cable.received_bits.clear();
    xfer.SendString(u"", Latin1);
    EXPECT_THAT(BytesOf(cable.received_bits), ElementsAre(0));
}

TEST_F(LinkTest, SendStringSendsTheTextAsItStoodAtTheCall)
{
    std::u16string field = u"Some Artist";
    cable.far_end_stuck = true;
    on_yield = [&] {
        field = u"X";  // a handler replaces the caller's string mid-transfer
        field.shrink_to_fit();
        cable.far_end_stuck = false;
    };
    xfer.SendString(field, Latin1);

    std::vector<unsigned> expected(std::begin(u"Some Artist"), std::end(u"Some Artist"));
    EXPECT_THAT(BytesOf(cable.received_bits), ElementsAreArray(expected));
}

TEST_F(LinkTest, CharacterOutsideOneByteOverflowsAfterTheBytesBeforeItWithNoTerminator)
{
    auto code_page = [](char16_t ch) -> std::uint32_t { return ch == u'\u4E2D' ? 0x9C9B : ch; };
    try {
        xfer.SendString(u"Hi\u4E2Dx", code_page);
        FAIL() << "no overflow";
    } catch (const LinkError& e) {
        EXPECT_EQ(e.hr(), kOverflowError);
    }
    EXPECT_THAT(BytesOf(cable.received_bits), ElementsAre('H', 'i'));
    EXPECT_EQ(cable.received_bits.size(), 16U);
}

TEST_F(LinkTest, SerialControlErrorsLeaveAtOnceWithTheLinesAsLastPut)
{
    const std::uint8_t value = 0;
    cable.far_end_stuck = true;
    on_yield = [&] { cable.fail_everything = true; };  // the port closes under the wait
    EXPECT_THROW(xfer.SendByte(value), LinkError);
    EXPECT_THAT(cable.Puts(), ElementsAre("A0"));
    EXPECT_THROW(xfer.ReceiveByte(), LinkError);
    EXPECT_EQ(xfer.LinkAborted, kFalse);
}

}  // namespace
}  // namespace nightjar::link
