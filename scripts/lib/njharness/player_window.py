"""The player's window protocol as Plavox publishes it
(playerctl/include/plavox/player_window.h): the window class, the WM_COMMAND
numbers of the player's commands and the WM_USER requests. Read from the
header itself, so the harness cannot drift from what the programs speak."""
import os
import re

from .wine import TOP

HEADER = os.path.join(TOP, 'playerctl', 'include', 'plavox', 'player_window.h')


def _read():
    with open(HEADER, encoding='utf-8') as f:
        text = f.read()
    numbers = {name: int(value, 0) for name, value in re.findall(r'\b(k\w+) = (0x[0-9A-Fa-f]+|\d+)[,;]', text)}
    window_class = re.search(r'kWindowClass\[\] = "([^"]*)"', text).group(1)
    return window_class, numbers


WINDOW_CLASS, _NUMBERS = _read()
PREVIOUS, PLAY, PAUSE, STOP, NEXT = (_NUMBERS[k] for k in ('kPrevious', 'kPlay', 'kPause', 'kStop', 'kNext'))
SHUFFLE, SKIP_BACK, FADE_AND_STOP, SKIP_FORWARD = (_NUMBERS[k] for k in ('kShuffle', 'kSkipBack', 'kFadeAndStop',
                                                                         'kSkipForward'))
CLEAR_PLAYLIST, PLAY_STATE, POSITION_OR_LENGTH, TRACK_FORMAT = (
    _NUMBERS[k] for k in ('kClearPlaylist', 'kPlayState', 'kPositionOrLength', 'kTrackFormat'))


def command_line(number):
    """How the player simulator logs a WM_COMMAND with that number."""
    return f'WM_COMMAND {number} 0'
