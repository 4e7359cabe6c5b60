#include "line_protocol.h"

#include <gtest/gtest.h>

namespace mpris_bridge {
namespace {

Message Parse(std::string_view line)
{
    const Parsed parsed = ParseLine(line);
    EXPECT_TRUE(parsed.message.has_value()) << line << ": " << parsed.error;
    return parsed.message.value_or(Message{Presence{false}});
}

TEST(LineProtocol, EveryMessageSurvivesEncodeAndParse)
{
    const Message messages[] = {
        Hello{"0123456789abcdef"},
        CommandLine{Command::SkipBack},
        CommandLine{Command::FadeAndStop},
        Presence{true},
        Presence{false},
        TrackTitle{"3. Zo\u00eb Marlowe - Paper Satellites - Plavox"},
        TrackTitle{""},
        StatusLine{Status{PlayState::Paused, 123456, 1500, 214, 44100, 192}},
    };
    for (const Message& message : messages) {
        std::string line = Encode(message);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        EXPECT_EQ(Parse(line), message) << line;
    }
}

TEST(LineProtocol, EveryCommandNameAndPlayerNumberMaps)
{
    for (const Command c : {Command::Play, Command::Pause, Command::Stop, Command::Next, Command::Previous,
                            Command::SkipForward, Command::SkipBack, Command::FadeAndStop, Command::Shuffle,
                            Command::Quit}) {
        EXPECT_EQ(CommandFromName(CommandName(c)), c);
    }
    EXPECT_EQ(CommandForPlayerCommandId(40045), Command::Play);
    EXPECT_EQ(CommandForPlayerCommandId(40046), Command::Pause);
    EXPECT_EQ(CommandForPlayerCommandId(40047), Command::Stop);
    EXPECT_EQ(CommandForPlayerCommandId(40048), Command::Next);
    EXPECT_EQ(CommandForPlayerCommandId(40044), Command::Previous);
    EXPECT_EQ(CommandForPlayerCommandId(40148), Command::SkipForward);
    EXPECT_EQ(CommandForPlayerCommandId(40144), Command::SkipBack);
    EXPECT_EQ(CommandForPlayerCommandId(40147), Command::FadeAndStop);
    EXPECT_EQ(CommandForPlayerCommandId(40023), Command::Shuffle);
    EXPECT_EQ(CommandForPlayerCommandId(40049), std::nullopt);
    EXPECT_EQ(CommandForPlayerCommandId(0), std::nullopt);
}

TEST(LineProtocol, MalformedLinesAreRefusedWithAReason)
{
    const char* bad[] = {
        "",
        "HELLO",
        "HELLO ",
        "HELLO ABCDEF",              // upper case is not the token's alphabet
        "HELLO 12 34",
        "CMD",
        "CMD jump",
        "CMD play ",
        "PLAYER 2",
        "PLAYER",
        "STATUS 1 0 1000 214 44100",       // five figures
        "STATUS 1 0 1000 214 44100 192 7", // seven
        "STATUS 2 0 1000 214 44100 192",   // no such play state
        "STATUS 1 -5 1000 214 44100 192",
        "STATUS 1 +5 1000 214 44100 192",
        "STATUS 1 5x 1000 214 44100 192",
        "STATUS 1 99999999999999999999999 1000 214 44100 192",
        "STATUS 1 0 1000 214 44100 99999999999",  // past 32 bits
        "STATUS  1 0 1000 214 44100 192",
        "TRACK a\tb",
        "TRACK \xC3",                // cut UTF-8
        "TRACK \xC0\xAF",            // overlong
        "TRACK \xED\xA0\x80",        // a surrogate
        "track 1. a - b - Plavox",
        "NOISE",
    };
    for (const char* line : bad) {
        const Parsed parsed = ParseLine(line);
        EXPECT_FALSE(parsed.message.has_value()) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
    EXPECT_FALSE(ParseLine(std::string(kMaxLine + 1, 'a')).message);
    const std::string long_token = "HELLO " + std::string(kMaxTokenLength + 1, 'a');
    EXPECT_FALSE(ParseLine(long_token).message);
}

TEST(LineProtocol, ATitleWithBytesTheParserRefusesIsEncodedCleanly)
{
    std::string line = Encode(TrackTitle{"1. a\nb\xC3 - c\x7F - Plavox"});
    line.pop_back();
    EXPECT_EQ(Parse(line), Message{TrackTitle{"1. a?b? - c? - Plavox"}});
    // A title too long for a line is cut, and not inside a character.
    line = Encode(TrackTitle{std::string(kMaxLine, '\xE2') /* not UTF-8 */ + std::string(2000, 'x')});
    EXPECT_LE(line.size(), kMaxLine + 1);
    line = Encode(TrackTitle{std::string(700, 'x') + [] {
        std::string s;
        for (int i = 0; i < 300; ++i) s += "\u20AC";
        return s;
    }()});
    EXPECT_LE(line.size(), kMaxLine + 1);
    line.pop_back();
    EXPECT_TRUE(ParseLine(line).message.has_value());
}

TEST(LineSplitter, CutsLinesAcrossFeedsAndDropsOversizedOnesWhole)
{
    LineSplitter splitter;
    splitter.Feed("PLAYER 1\nTRA");
    splitter.Feed("CK x\n");
    splitter.Feed(std::string(kMaxLine, 'y'));
    splitter.Feed("z");  // one past the limit
    splitter.Feed(std::string(5000, 'y'));
    splitter.Feed("\nPLAYER 0\npartial");
    auto first = splitter.Next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text, "PLAYER 1");
    EXPECT_EQ(splitter.Next()->text, "TRACK x");
    auto oversized = splitter.Next();
    ASSERT_TRUE(oversized);
    EXPECT_TRUE(oversized->oversized);
    EXPECT_TRUE(oversized->text.empty());
    EXPECT_EQ(splitter.Next()->text, "PLAYER 0");
    EXPECT_FALSE(splitter.Next());
    splitter.Feed("\n");
    EXPECT_EQ(splitter.Next()->text, "partial");

    // A line of exactly the limit is kept.
    splitter.Feed(std::string(kMaxLine, 'q') + "\n");
    auto full = splitter.Next();
    ASSERT_TRUE(full);
    EXPECT_FALSE(full->oversized);
    EXPECT_EQ(full->text.size(), kMaxLine);
}

TEST(LineProtocol, TokensCompareWhole)
{
    EXPECT_TRUE(TokensEqual("00ff", "00ff"));
    EXPECT_FALSE(TokensEqual("00ff", "00fe"));
    EXPECT_FALSE(TokensEqual("00ff", "00ff0"));
    EXPECT_FALSE(TokensEqual("", "a"));
}

}  // namespace
}  // namespace mpris_bridge
