#include "scripted_player.h"

#include <string>

namespace nightjar::native {

ScriptedPlayer::ScriptedPlayer(int input_fd, std::FILE* output, const Log& log)
    : input_fd_(input_fd), output_(output), log_(log)
{
}

void ScriptedPlayer::Start(PlayerEvents& events)
{
    // At the end of the script the player stays as it is.
    reader_ = std::make_unique<InputReader>(input_fd_, InputReader::Mode::Lines,
                                            [this, &events](std::string_view line) { TakeLine(line, events); });
}

void ScriptedPlayer::Carry(std::uint8_t byte, const app::Command& command)
{
    const std::lock_guard lock(output_mutex_);
    std::fprintf(output_, "call %u %08X\n", byte, static_cast<unsigned>(command.dispid));
    std::fflush(output_);
}

void ScriptedPlayer::TakeLine(std::string_view line, PlayerEvents& events)
{
    if (line == "gone") {
        events.PlayerGone();
    } else if (line.rfind("track ", 0) == 0) {
        const std::string rest(line.substr(6));
        const std::size_t tab = rest.find('\t');
        events.TrackChanged(tab == std::string::npos ? Track{"", rest} : Track{rest.substr(0, tab), rest.substr(tab + 1)});
    } else if (!line.empty()) {
        log_.Error("scripted player: not understood: " + std::string(line));
    }
}

}  // namespace nightjar::native
