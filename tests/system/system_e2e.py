#!/usr/bin/env python3
"""The whole system through the virtual cable: the real Nightjar.exe on COM1,
the calculator simulator calcsim.exe on COM2, plavoxsim.exe as the player.

    system_e2e.py BUILD_WIN_DIR [TEST ...]   run the tests (all by default)

Every wait is bounded; each test ends with the programs stopped, the
prefix's wineserver killed and the cable taken down.
"""
import contextlib
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts', 'lib'))

from njharness import eventually, expect, run_tests, track_of, wine_env  # noqa: E402
from njharness.session import demo  # noqa: E402
from njharness.system import CALCULATOR, KEYS, System  # noqa: E402
from njharness import player_window as pw  # noqa: E402


@contextlib.contextmanager
def started(build):
    """The three programs up, the first track already on the calculator."""
    with System(build) as s:
        s.start_all()
        expect(s.wait_calc_line('calc: now playing:', 0, 30) is not None, 'no start-up announcement')
        yield s


def test_every_key_reaches_the_player_as_its_command(build):
    with started(build) as s:
        for caption, byte, command in KEYS:
            count = len(s.player_commands())
            before = len(s.calc_lines())
            line = s.press(caption)
            expect(line.startswith(f'calc: sent {byte} '), f'{caption}: {line}')
            got = eventually(lambda c=count: s.commands_since(c), 10)
            expect(got == [command], f'{caption}: the player got {got}, wanted {command}')
            if caption in ('|<< Prev', 'Next >>|'):
                # The track changes; let its announcement finish before the next key.
                expect(s.wait_calc_line('calc: now playing:', before, 20), f'{caption}: no announcement')
        # The Send field: any byte, a bad one refused without sending anything.
        count = len(s.player_commands())
        s.probe('click', CALCULATOR, 'Send')  # empty field
        expect(s.wait_calc_line('calc: not a byte', 0, 10), 'an empty byte field was not refused')
        expect(s.commands_since(count) == [], 'a refused byte reached the player')


def test_a_title_change_in_the_player_reaches_the_calculator_screen(build):
    with started(build) as s:
        before = len(s.calc_lines())
        s.player('--send', str(pw.NEXT))
        line = s.wait_calc_line('calc: now playing:', before, 20)
        expect(line is not None, 'the new track never reached the calculator')
        # "N. Artist - Title - Plavox"
        artist, title = track_of(s.player_title())
        expect(line == f'calc: now playing: {artist} - {title}', f'the calculator logged {line!r}')
        lcd = s.probe('children', CALCULATOR)
        expect(artist in lcd and title in lcd, f'the screen does not show the track: {lcd!r}')
        # A second announcement of the same track would come before the next one's.
        s.player('--send', str(pw.NEXT))
        expect(eventually(lambda: len(s.announced_since(before)) >= 2, 20),
               'the next track never reached the calculator')
        got = s.announced_since(before)
        expect(got[0] == line and got[1] != line, f'announced more than once: {got}')


def test_closing_nightjar_ends_it_and_leaves_nothing_running(build):
    with started(build) as s:
        s.close_nightjar()
        # The calculator outlives its far end: a key press now finds nobody
        # answering, gives up and the simulator goes on.
        before = len(s.calc_lines())
        s.probe('click', CALCULATOR, 'Play')
        expect(s.wait_calc_line('calc: link aborted', before, 20), 'the calculator did not give up on a dead link')
        expect(s.calcsim.poll() is None, 'the calculator simulator ended')
        expect(s.probe('wait', CALCULATOR, '1', check=False) == '', 'the calculator window went away')
        s.stop_simulators()
        expect(s.calcsim.returncode == 0, f'the calculator ended with {s.calcsim.returncode}')
    # After the rig: nothing of this prefix is left.
    prefix = wine_env(build)['WINEPREFIX']
    left = subprocess.run(['pgrep', '-af', 'Nightjar.exe|calcsim.exe|plavoxsim.exe|wineserver'],
                          capture_output=True, text=True).stdout
    ours = [line for line in left.splitlines() if build in line or prefix_of(line.split()[0]) == prefix]
    expect(not ours, f'still running: {ours}')


def prefix_of(pid):
    try:
        with open(f'/proc/{pid}/environ', 'rb') as f:
            for item in f.read().split(b'\0'):
                if item.startswith(b'WINEPREFIX='):
                    return os.path.abspath(item[len(b'WINEPREFIX='):].decode())
    except OSError:
        pass
    return None


def test_the_scripted_session_behaves(build):
    # With a screenshot: the windows are placed and checked to cover none of each other.
    with tempfile.TemporaryDirectory(prefix='nj-system-') as folder:
        shot = os.path.join(folder, 'system.png')
        expect(demo(build, shot) == 0, 'the scripted session failed')
        expect(os.path.getsize(shot) > 0, 'no screenshot')


def main():
    return run_tests(globals(), os.path.abspath(sys.argv[1]), sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
