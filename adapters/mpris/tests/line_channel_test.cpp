#include "line_channel.h"

#include <gtest/gtest.h>

#include <vector>

namespace mpris_bridge {
namespace {

std::vector<std::string> Drain(LineChannel& channel)
{
    std::vector<std::string> lines;
    while (auto line = channel.NextLine()) lines.push_back(line->oversized ? "<oversized>" : line->text);
    return lines;
}

TEST(LineChannel, AStreamCutAtAnyByteGivesTheSameLines)
{
    const std::string stream = "HELLO 00ff\nCMD next\n" + std::string(kMaxLine + 1, 'x') + "\nSTATUS 1 2 1000 3 0 0\n";
    const std::vector<std::string> want = {"HELLO 00ff", "CMD next", "<oversized>", "STATUS 1 2 1000 3 0 0"};
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        LineChannel channel;
        channel.Received(std::string_view(stream).substr(0, cut));
        std::vector<std::string> got = Drain(channel);
        channel.Received(std::string_view(stream).substr(cut));
        for (std::string& line : Drain(channel)) got.push_back(std::move(line));
        ASSERT_EQ(got, want) << "cut at " << cut;
    }
}

TEST(LineChannel, QueueKeepsOrderAcrossPartialSendsAndRefusesPastItsCap)
{
    LineChannel channel;
    ASSERT_TRUE(channel.Queue(Presence{true}));
    ASSERT_TRUE(channel.Queue(CommandLine{Command::Next}));
    EXPECT_EQ(channel.Unsent(), "PLAYER 1\nCMD next\n");
    channel.Sent(3);
    EXPECT_EQ(channel.Unsent(), "YER 1\nCMD next\n");
    ASSERT_TRUE(channel.Queue(Presence{false}));
    EXPECT_EQ(channel.Unsent(), "YER 1\nCMD next\nPLAYER 0\n");
    channel.Sent(channel.Unsent().size());
    EXPECT_FALSE(channel.HasUnsent());

    // A peer that reads nothing: the queue fills to its cap and no further.
    const Message status = StatusLine{Status{}};
    size_t queued = 0;
    while (channel.Queue(status)) queued += Encode(status).size();
    EXPECT_LE(queued, LineChannel::kMaxQueued);
    EXPECT_GT(queued + Encode(status).size(), LineChannel::kMaxQueued);
    EXPECT_EQ(channel.Unsent().size(), queued) << "a refused line leaves no part of itself";
    channel.Sent(Encode(status).size());
    EXPECT_TRUE(channel.Queue(status)) << "room again once the peer reads";

    channel.Received("CMD pl");
    channel.Reset();
    EXPECT_FALSE(channel.HasUnsent());
    channel.Received("ay\n");
    EXPECT_EQ(Drain(channel), std::vector<std::string>{"ay"}) << "nothing half-read survives a reset";
}

}  // namespace
}  // namespace mpris_bridge
