#include "command_plan.h"

#include <gtest/gtest.h>

namespace mpris_bridge {
namespace {

PlayerFacts Capable(PlayState state)
{
    PlayerFacts f;
    f.state = state;
    f.can_control = f.can_play = f.can_pause = f.can_seek = f.can_go_next = f.can_go_previous = true;
    f.can_quit = f.has_volume = f.has_shuffle = true;
    return f;
}

TEST(CommandPlan, TheMappingTable)
{
    struct Row {
        Command command;
        PlayState state;
        Action action;
        int64_t seek_us;
    };
    const Row rows[] = {
        {Command::Play, PlayState::Stopped, Action::Play, 0},
        {Command::Play, PlayState::Playing, Action::Play, 0},
        {Command::Pause, PlayState::Playing, Action::Pause, 0},
        {Command::Pause, PlayState::Paused, Action::Play, 0},
        {Command::Pause, PlayState::Stopped, Action::Nothing, 0},
        {Command::Stop, PlayState::Playing, Action::Stop, 0},
        {Command::Next, PlayState::Stopped, Action::Next, 0},
        {Command::Previous, PlayState::Playing, Action::Previous, 0},
        {Command::SkipForward, PlayState::Playing, Action::Seek, 5'000'000},
        {Command::SkipBack, PlayState::Paused, Action::Seek, -5'000'000},
        {Command::SkipForward, PlayState::Stopped, Action::Nothing, 0},
        {Command::FadeAndStop, PlayState::Playing, Action::FadeThenStop, 0},
        {Command::FadeAndStop, PlayState::Paused, Action::Stop, 0},
        {Command::Shuffle, PlayState::Playing, Action::SetShuffle, 0},
        {Command::Quit, PlayState::Playing, Action::Quit, 0},
    };
    for (const Row& row : rows) {
        const Plan plan = PlanCommand(row.command, Capable(row.state));
        EXPECT_EQ(plan.action, row.action) << CommandName(row.command) << " in state " << int(row.state);
        EXPECT_EQ(plan.seek_us, row.seek_us) << CommandName(row.command);
        EXPECT_EQ(plan.action == Action::Nothing, !plan.why.empty()) << CommandName(row.command);
    }
}

TEST(CommandPlan, ShuffleToggles)
{
    PlayerFacts facts = Capable(PlayState::Playing);
    EXPECT_TRUE(PlanCommand(Command::Shuffle, facts).shuffle);
    facts.shuffle = true;
    EXPECT_FALSE(PlanCommand(Command::Shuffle, facts).shuffle);
}

TEST(CommandPlan, WhatThePlayerRefusesDoesNothingAndSaysWhy)
{
    const PlayerFacts none{};  // a player that allows nothing
    for (const Command c : {Command::Play, Command::Stop, Command::Next, Command::Previous, Command::FadeAndStop,
                            Command::Shuffle, Command::Quit}) {
        const Plan plan = PlanCommand(c, none);
        EXPECT_EQ(plan.action, Action::Nothing) << CommandName(c);
        EXPECT_FALSE(plan.why.empty()) << CommandName(c);
    }
    PlayerFacts playing = none;
    playing.state = PlayState::Playing;
    EXPECT_EQ(PlanCommand(Command::Pause, playing).action, Action::Nothing);
    EXPECT_EQ(PlanCommand(Command::SkipBack, playing).action, Action::Nothing);
    // Without a volume to fade, fade-and-stop is a plain stop.
    playing.can_control = true;
    EXPECT_EQ(PlanCommand(Command::FadeAndStop, playing).action, Action::Stop);
}

}  // namespace
}  // namespace mpris_bridge
