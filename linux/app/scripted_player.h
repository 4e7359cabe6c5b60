// A player side driven by lines of text, for tests and for trying the
// program before its MPRIS side is in: reads standard input for
//   track ARTIST<TAB>TITLE      the followed player plays this track
//   gone                        the player went away
// and writes one line to standard output for each player call:
//   call BYTE DISPID            (DISPID in hex, as Plavox numbers it)
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>

#include "input_reader.h"
#include "log.h"
#include "player_side.h"

namespace nightjar::native {

class ScriptedPlayer final : public PlayerSide {
public:
    ScriptedPlayer(int input_fd, std::FILE* output, const Log& log);

    void Start(PlayerEvents& events) override;
    void Stop() override { reader_.reset(); }
    void Carry(std::uint8_t byte, const app::Command& command) override;

private:
    void TakeLine(std::string_view line, PlayerEvents& events);

    int input_fd_;
    std::FILE* output_;
    const Log& log_;
    std::mutex output_mutex_;
    std::unique_ptr<InputReader> reader_;
};

}  // namespace nightjar::native
