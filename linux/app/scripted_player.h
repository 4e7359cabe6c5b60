// A player side driven by lines of text, for tests and for trying the
// program before its MPRIS side is in: reads standard input for
//   track ARTIST<TAB>TITLE      the followed player plays this track
//   gone                        the player went away
// and writes one line to standard output for each player call:
//   call BYTE DISPID            (DISPID in hex, as Plavox numbers it)
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "log.h"
#include "player_side.h"
#include "unique_fd.h"

namespace nightjar::native {

class ScriptedPlayer final : public PlayerSide {
public:
    ScriptedPlayer(int input_fd, std::FILE* output, const Log& log);
    ~ScriptedPlayer() override;
    ScriptedPlayer(const ScriptedPlayer&) = delete;
    ScriptedPlayer& operator=(const ScriptedPlayer&) = delete;

    void Start(PlayerEvents& events) override;
    void Carry(std::uint8_t byte, const app::Command& command) override;

private:
    void ReadLines(PlayerEvents& events);
    void TakeLine(const std::string& line, PlayerEvents& events);

    int input_fd_;
    std::FILE* output_;
    const Log& log_;
    tty::UniqueFd stop_read_;
    tty::UniqueFd stop_write_;
    std::thread reader_;
    std::mutex output_mutex_;
};

}  // namespace nightjar::native
