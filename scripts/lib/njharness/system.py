"""The whole system on one display: Nightjar.exe on COM1, calcsim.exe on
COM2, the two joined by the virtual cable, plavoxsim.exe as the player."""
import os
import subprocess
import threading
import time

from . import layout
from . import player_window as pw
from .checks import Failure, eventually, expect
from .rig import CHOOSER, MAIN, Rig, is_polling
from .wine import CALCSIM

CALCULATOR = 'Calculator'
TRAY = 'Wine System Tray'

# What each keypad caption sends and what the player is told in return.
KEYS = [
    ('|<< Prev', 53, pw.command_line(pw.PREVIOUS)),
    ('Play', 52, pw.command_line(pw.PLAY)),
    ('Pause', 51, pw.command_line(pw.PAUSE)),
    ('Stop', 50, pw.command_line(pw.STOP)),
    ('Next >>|', 49, pw.command_line(pw.NEXT)),
    ('<< Back', 2, pw.command_line(pw.SKIP_BACK)),
    ('Fwd >>', 3, pw.command_line(pw.SKIP_FORWARD)),
]
PLAYER_COMMANDS = {
    str(pw.PREVIOUS): 'previous track', str(pw.PLAY): 'play', str(pw.PAUSE): 'pause', str(pw.STOP): 'stop',
    str(pw.NEXT): 'next track', str(pw.SKIP_BACK): 'skip back', str(pw.SKIP_FORWARD): 'skip forward',
}


def player_line(line):
    """A line of the player's log as shown, or None for Plavox's polling."""
    if is_polling(line):
        return None
    parts = line.split()
    if len(parts) >= 2 and parts[0] == 'WM_COMMAND':
        return f'player: {line} ({PLAYER_COMMANDS.get(parts[1], "?")})'
    return f'player: {line}'


class Follower(threading.Thread):
    """Prints the new lines of a log file as they are written."""

    def __init__(self, path, show):
        super().__init__(daemon=True)
        self.path, self.show = path, show
        self.offset = 0
        self.stopping = threading.Event()

    def run(self):
        while not self.stopping.is_set():
            self.drain()
            time.sleep(0.05)
        self.drain()

    def drain(self):
        if not os.path.exists(self.path):
            return
        with open(self.path, 'rb') as f:
            f.seek(self.offset)
            chunk = f.read()
        # Only whole lines; the rest waits for its newline.
        whole = chunk[:chunk.rfind(b'\n') + 1]
        self.offset += len(whole)
        for line in whole.decode('utf-8', errors='replace').splitlines():
            text = self.show(line)
            if text:
                print(text, flush=True)

    def stop(self):
        self.stopping.set()
        self.join(timeout=2)


class System(Rig):
    """Nightjar, the calculator simulator and the player on one cable."""

    def __init__(self, build, verbose=False, windows='unmanaged'):
        super().__init__(build, nightjar_port=1, windows=windows)
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
        for f in self.followers:
            f.stop()
        return super().__exit__(*exc)

    def say(self, text):
        if self.verbose:
            print(text, flush=True)

    # ---- the calculator simulator ----

    def start_calculator(self):
        self.calcsim = self.start(self.exe(*CALCSIM), '--port', str(self.calculator_port), '--log', self.calc_log,
                                  '--at', *map(str, layout.CALCULATOR_AT))
        self.probe('wait', CALCULATOR, '20')
        expect(eventually(lambda: 'ready on' in self.calc_text(), 20), 'the calculator did not open its port')

    def calc_lines(self):
        if not os.path.exists(self.calc_log):
            return []
        with open(self.calc_log, encoding='utf-8', errors='replace') as f:
            return [line.rstrip('\n') for line in f]

    def calc_text(self):
        return '\n'.join(self.calc_lines())

    def announced_since(self, after):
        """The calculator's "now playing" lines after line `after`."""
        return [line for line in self.calc_lines()[after:] if line.startswith('calc: now playing:')]

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

    # ---- the player and Nightjar ----

    def commands_since(self, count):
        return [c for c in self.player_commands()[count:] if c.startswith('WM_COMMAND')]

    def start_all(self):
        self.start_calculator()
        self.say('== the player starts')
        self.start_player('--play')
        self.say('== Nightjar starts; port 1 is picked in its chooser')
        self.run_nightjar()
        self.say(f'nightjar: main window up, {self.state()}')

    def close_nightjar(self, seconds=60):
        self.probe('close', MAIN)
        expect(self.wait_exit(seconds), f'Nightjar still running {seconds} s after its close request')

    def stop_simulators(self):
        if self.calcsim and self.calcsim.poll() is None:
            self.probe('close', CALCULATOR, check=False)
            try:
                self.calcsim.wait(timeout=15)
            except subprocess.TimeoutExpired:
                raise Failure('the calculator did not close') from None
        self.player('--close', check=False)

    # ---- windows ----

    def rect(self, title):
        return layout.parse_rect(self.probe('rect', title, check=False))

    def rects(self):
        """The screen rectangles of the session's windows that are up, by title."""
        titles = [CALCULATOR, MAIN, CHOOSER, self.player_title(), TRAY]
        found = {t: self.rect(t) for t in titles if t}
        return {t: r for t, r in found.items() if r}

    def place(self, title, at):
        self.probe('move', title, str(at[0]), str(at[1]), check=False)

    def arrange(self):
        """Side by side, nothing on top of anything. Wine asks for the top
        left for every window without a place of its own, and a window
        manager grants it; a managed window is the user's to move after."""
        self.place(CALCULATOR, layout.CALCULATOR_AT)
        self.place(CHOOSER, layout.NIGHTJAR_AT)
        self.place(MAIN, layout.NIGHTJAR_AT)
        calculator = self.rect(CALCULATOR)
        title = self.player_title()
        if title and calculator:
            self.place(title, layout.player_at(calculator[2]))
        tray, screen = self.rect(TRAY), screen_size(self.env)
        if tray and screen:
            self.place(TRAY, layout.tray_at(screen, tray[2:]))

    def arrange_running(self):
        """arrange() once Nightjar's main window is up: its tray icon brings
        Wine's stand-in tray up at the top left, over Nightjar. A desktop
        with a tray of its own has none."""
        self.probe('wait', TRAY, '3' if self.managed else '10', check=False)
        self.arrange()

    def screenshot(self, path):
        """The session's windows, checked to cover none of each other where
        no window manager has a say."""
        self.arrange()
        time.sleep(1)
        rects = self.rects()
        expect(len({CALCULATOR, MAIN, self.player_title()} & rects.keys()) == 3, f'windows missing: {rects}')
        if not self.managed:
            overlapping = layout.covered(rects)
            expect(not overlapping, f'windows cover each other: {overlapping} ({rects})')
        self.capture(layout.bounds([r for t, r in rects.items() if t != TRAY]), path)


def screen_size(env):
    """Width and height of the display of `env`, or None."""
    r = subprocess.run(['xdpyinfo'], env=env, capture_output=True, text=True, timeout=10)
    for line in r.stdout.splitlines():
        if 'dimensions:' in line:
            w, h = line.split()[1].split('x')
            return int(w), int(h)
    return None
