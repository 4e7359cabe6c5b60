#!/usr/bin/env python3
"""The whole system on one display: Nightjar.exe on COM1, calcsim.exe on COM2,
the two joined by the virtual cable, plavoxsim.exe as the media player.

    session.py BUILD_WIN_DIR --demo [--screenshot PNG]
        plays a short scripted session, printing what happens at each end as
        it happens; exits 0 when every step behaved, 1 otherwise
    session.py BUILD_WIN_DIR --interactive
        starts everything and waits for the user to close Nightjar

Every wait is bounded; at the end the programs are closed, the cable taken
down and the prefix's wineserver stopped. `System` is also what the system
tests drive.
"""
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, '..'))
sys.path.insert(0, os.path.join(TOP, 'tests', 'app'))

from nightjar_e2e import Failure, Rig, eventually, expect  # noqa: E402

CALCULATOR = 'Calculator'

# What each keypad caption sends and what the player is told in return.
KEYS = [
    ('|<< Prev', 53, 'WM_COMMAND 40044 0'),
    ('Play', 52, 'WM_COMMAND 40045 0'),
    ('Pause', 51, 'WM_COMMAND 40046 0'),
    ('Stop', 50, 'WM_COMMAND 40047 0'),
    ('Next >>|', 49, 'WM_COMMAND 40048 0'),
    ('<< Back', 2, 'WM_COMMAND 40144 0'),
    ('Fwd >>', 3, 'WM_COMMAND 40148 0'),
]
PLAYER_COMMANDS = {
    '40044': 'previous track', '40045': 'play', '40046': 'pause', '40047': 'stop', '40048': 'next track',
    '40144': 'skip back', '40148': 'skip forward',
}
# The player's own chatter with Plavox's polling, left out of what is shown.
POLLING = ('WM_USER 0 10', 'WM_USER 1 1', 'WM_USER 0 126', 'WM_USER 0 104', 'WM_USER 0 105', 'WM_USER 1 126',
           'WM_USER 2 126')


class Follower(threading.Thread):
    """Prints the new lines of a log file as they are written."""

    def __init__(self, path, show):
        super().__init__(daemon=True)
        self.path, self.show = path, show
        self.stopping = threading.Event()

    def run(self):
        offset = 0
        while not self.stopping.is_set():
            if os.path.exists(self.path):
                with open(self.path, encoding='utf-8', errors='replace') as f:
                    f.seek(offset)
                    chunk = f.read()
                    # Only whole lines; the rest waits for its newline.
                    whole = chunk[:chunk.rfind('\n') + 1]
                    offset += len(whole.encode('utf-8'))
                for line in whole.splitlines():
                    text = self.show(line)
                    if text:
                        print(text, flush=True)
            time.sleep(0.05)

    def stop(self):
        self.stopping.set()
        self.join(timeout=2)


def player_line(line):
    if line.startswith(POLLING):
        return None
    parts = line.split()
    if len(parts) >= 2 and parts[0] == 'WM_COMMAND':
        return f'player: {line} ({PLAYER_COMMANDS.get(parts[1], "?")})'
    return f'player: {line}'


class System(Rig):
    """Nightjar, the calculator simulator and the player on one cable."""

    def __init__(self, build, verbose=False):
        super().__init__(build, nightjar_port=1)
        self.calc_log = os.path.join(self.tmp, 'calc.log')
        self.verbose = verbose
        self.followers = []
        self.calcsim = None

    def __enter__(self):
        super().__enter__()
        if self.verbose:
            self.followers = [Follower(self.calc_log, lambda line: line),
                              Follower(self.log, player_line)]
            for f in self.followers:
                f.start()
        return self

    def __exit__(self, *exc):
        try:
            return super().__exit__(*exc)
        finally:
            for f in self.followers:
                f.stop()

    def say(self, text):
        if self.verbose:
            print(text, flush=True)

    def start_calculator(self):
        self.calcsim = self.start(self.exe('sim', 'calcsim', 'calcsim.exe'), '--port', str(self.calculator_port),
                                  '--log', self.calc_log, '--at', '20', '20')
        self.probe('wait', CALCULATOR, '20')
        expect(eventually(lambda: 'ready on' in self.calc_text(), 20), 'the calculator did not open its port')

    def calc_lines(self):
        if not os.path.exists(self.calc_log):
            return []
        with open(self.calc_log, encoding='utf-8', errors='replace') as f:
            return [line.rstrip('\n') for line in f]

    def calc_text(self):
        return '\n'.join(self.calc_lines())

    def wait_calc_line(self, want, after=0, seconds=20):
        """The first calculator line after line `after` that starts with `want`."""
        def find():
            return next((line for line in self.calc_lines()[after:] if line.startswith(want)), None)
        return eventually(find, seconds)

    def press(self, caption, seconds=20):
        """Clicks a key of the calculator and waits until its byte went out."""
        before = len(self.calc_lines())
        self.probe('click', CALCULATOR, caption)
        line = self.wait_calc_line('calc: sent', before, seconds)
        expect(line is not None, f'the calculator did not send the byte of {caption!r}')
        return line

    def commands_since(self, count):
        return [c for c in self.player_commands()[count:] if c.startswith('WM_COMMAND')]

    def player_title(self):
        return self.probe('title-of', 'Plavox v1.x')

    def start_all(self):
        self.start_calculator()
        self.say('== the player starts')
        self.start_player('--play')
        self.say('== Nightjar starts; port 1 is picked in its chooser')
        self.start_nightjar()
        self.choose_port(1)
        expect(self.probe('wait', 'Nightjar', '20', check=False) == '', 'no main window')
        self.say(f'nightjar: main window up, {self.state()}')

    def arrange(self):
        """Side by side, nothing on top of anything."""
        self.probe('move', CALCULATOR, '20', '20', check=False)
        self.probe('move', 'Nightjar', '310', '20', check=False)
        title = self.player_title()
        if title:
            self.probe('move', title, '310', '180', check=False)
        self.probe('move', 'Wine System Tray', '1100', '720', check=False)

    def screenshot(self, path):
        self.arrange()
        time.sleep(1)
        whole = os.path.join(self.tmp, 'screen.png')
        subprocess.run(['import', '-window', 'root', whole], check=True, timeout=30)
        subprocess.run(['convert', whole, '-crop', '770x390+10+10', '+repage', path], check=True, timeout=30)

    def close_nightjar(self, seconds=15):
        self.probe('close', 'Nightjar')
        expect(self.wait_exit(seconds), f'Nightjar still running {seconds} s after its close request')

    def stop_simulators(self):
        if self.calcsim and self.calcsim.poll() is None:
            self.probe('close', CALCULATOR, check=False)
            try:
                self.calcsim.wait(timeout=15)
            except subprocess.TimeoutExpired:
                raise Failure('the calculator did not close') from None
        self.wine(self.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--close', check=False)


def announced(line):
    return line[len('calc: now playing: '):] if line else None


def demo(build, screenshot=None):
    with System(build, verbose=True) as s:
        s.start_all()
        first = s.wait_calc_line('calc: now playing:', 0, 30)
        expect(first is not None, 'the calculator never showed a track')

        s.say('== keys on the calculator: Play, Pause, Play')
        for caption in ('Play', 'Pause', 'Play'):
            s.press(caption)
            time.sleep(0.5)

        s.say('== Next on the calculator: the player moves on and Nightjar announces the new track')
        before = len(s.calc_lines())
        s.press('Next >>|')
        second = s.wait_calc_line('calc: now playing:', before, 30)
        expect(second is not None and second != first, 'the new track never reached the calculator')

        s.say('== the player changes track by itself')
        before = len(s.calc_lines())
        s.wine(s.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--send', '40048')
        third = s.wait_calc_line('calc: now playing:', before, 30)
        expect(third is not None, 'the player\'s own track change never reached the calculator')

        s.say('== Show/Hide on the calculator hides and shows Nightjar')
        for want in ('visible=0', 'visible=1'):
            s.press('Show/Hide')
            expect(eventually(lambda w=want: s.state().startswith(w), 10), f'Nightjar is not {want}')
            s.say(f'nightjar: {s.state()}')

        if screenshot:
            s.screenshot(screenshot)
            s.say(f'== screenshot saved: {screenshot}')

        s.say('== Nightjar is closed through its close request')
        s.close_nightjar()
        s.say('nightjar: ended')
        time.sleep(0.5)
        s.stop_simulators()
        time.sleep(0.3)  # the followers' last lines
    print('== session done: the calculator showed', announced(first), '/', announced(second), '/',
          announced(third), flush=True)
    return 0


def interactive(build):
    with System(build, verbose=True) as s:
        s.start_calculator()
        s.start_player('--play')
        s.nightjar = s.start(s.exe('controller', 'app', 'Nightjar.exe'))
        s.probe('wait', 'Set Link Port:', '20')
        s.arrange()
        print('Pick port 1 in Nightjar\'s chooser. The calculator simulator is on COM2.', flush=True)
        print('Close Nightjar to end the session.', flush=True)
        s.nightjar.wait()
        s.stop_simulators()
    return 0


def main():
    if len(sys.argv) < 3 or sys.argv[2] not in ('--demo', '--interactive'):
        print(__doc__, file=sys.stderr)
        return 2
    build = os.path.abspath(sys.argv[1])
    try:
        if sys.argv[2] == '--interactive':
            return interactive(build)
        shot = sys.argv[4] if sys.argv[3:4] == ['--screenshot'] and len(sys.argv) > 4 else None
        return demo(build, shot)
    except (Failure, subprocess.SubprocessError, OSError) as e:
        print(f'session failed: {e}', flush=True)
        return 1


if __name__ == '__main__':
    sys.exit(main())
