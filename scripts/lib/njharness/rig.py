"""One run of Nightjar.exe under Wine with its virtual cable, the player
simulator and a calculator end, all driven from outside through njprobe."""
import os
import re
import shutil
import subprocess
import tempfile

from . import player_window as pw
from .checks import Failure, eventually, expect
from .wine import CABLE, LINKCAT, NIGHTJAR, PLAVOX, PLAYER, PROBE, set_window_mode, wine_env

CHOOSER = 'Set Link Port:'
MAIN = 'Nightjar'
PLAYER_CLASS = pw.WINDOW_CLASS

# Plavox's polling of the player: play state, position and audio information
# (WM_USER with these lParams). Everything else in the log is a command.
POLLING_QUERIES = tuple(str(q) for q in (pw.PLAY_STATE, pw.POSITION_OR_LENGTH, pw.TRACK_FORMAT))


def is_polling(line):
    parts = line.split()
    return len(parts) >= 3 and parts[0] == 'WM_USER' and parts[2] in POLLING_QUERIES


def announcement(artist, title):
    """The bytes Nightjar sends the calculator for a new track."""
    return list(artist.encode('cp1252') + b'\0' + title.encode('cp1252') + b'\0' + b'\2')


def track_of(title):
    """Artist and title from the player's window title, "N. Artist - Title - Plavox"."""
    artist, song = title.split('. ', 1)[1].rsplit(' - Plavox', 1)[0].split(' - ', 1)
    return artist.strip(), song.strip()


# The player simulator starts on this track.
FIRST = announcement('The Lantern Moths', 'Cold Harbour')


class Rig:
    """One run of the program with its cable, player and calculator.

    `windows` is the window mode the prefix is set to before anything starts:
    'unmanaged' (the tests), 'managed' or 'auto' (managed when a window
    manager runs on the display)."""

    def __init__(self, build, nightjar_port=1, cable=True, windows='unmanaged'):
        self.build = build
        self.env = wine_env(build)
        self.tmp = tempfile.mkdtemp(prefix='nj-e2e-')
        self.cable_dir = os.path.join(self.tmp, 'cable')
        self.log = os.path.join(self.tmp, 'player.log')
        self.procs = []
        self.nightjar = None
        self.nightjar_port = nightjar_port
        self.calculator_port = 2 if nightjar_port != 2 else 3
        self.cable = cable
        self.windows = windows
        self.managed = False

    def exe(self, *parts):
        return os.path.join(self.build, *parts)

    def __enter__(self):
        try:
            self.managed = set_window_mode(self.env, self.windows) == 'managed'
            if self.cable:
                self.cable_up()
            self.wine('regsvr32', '/s', self.exe(*PLAVOX))
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        try:
            for p in self.procs:
                if p.poll() is None:
                    p.kill()
            subprocess.run(['wineserver', '-k'], env=self.env, timeout=30)
            if self.managed:
                # The tests share the prefix: leave it as they want it.
                set_window_mode(self.env, 'unmanaged')
            if self.cable:
                subprocess.run([CABLE, 'down', self.cable_dir], env=self.env, timeout=60,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for p in self.procs:
                p.wait(timeout=10)
        finally:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False

    def cable_up(self):
        subprocess.run([CABLE, 'up', self.cable_dir, str(self.nightjar_port), str(self.calculator_port)],
                       env=self.env, check=True, stdout=subprocess.DEVNULL, timeout=60)
        with open(os.path.join(self.cable_dir, 'env')) as f:
            for line in f:
                if line.startswith('export '):
                    key, value = line[len('export '):].strip().split('=', 1)
                    self.env[key] = value.strip("'")

    def traced_env(self):
        """The environment with the cable's trace of every wire call on stderr."""
        return dict(self.env, NJ_CABLE_TRACE='1')

    def wine(self, *args, timeout=30, check=True, env=None):
        # Output goes through files, not pipes: Wine's own background processes,
        # started by whichever command comes first, would keep a pipe open.
        with tempfile.TemporaryFile('w+') as out, tempfile.TemporaryFile('w+') as err:
            code = subprocess.run(['wine', *args], env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            r = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if check and r.returncode != 0:
            raise Failure(f'{args[0]} {args[1:]} failed ({r.returncode}): {r.stdout} {r.stderr}')
        return r

    def start(self, *args, stderr=subprocess.DEVNULL, env=None):
        """A Wine program in the background, ended with the rig."""
        p = subprocess.Popen(['wine', *args], env=env or self.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=stderr)
        self.procs.append(p)
        return p

    def probe(self, *args, check=True, timeout=30):
        return self.wine(self.exe(*PROBE), *args, check=check, timeout=timeout).stdout.strip()

    # ---- the player ----

    def start_player(self, *args, seconds=60):
        self.start(self.exe(*PLAYER), '--log', self.log, *args)
        expect(eventually(lambda: self.probe('title-of', PLAYER_CLASS, check=False), seconds, 0.5),
               f'no player window within {seconds} s')

    def player(self, *args, check=True):
        """plavoxsim's helper verbs (--send, --ask, --close) on the running player."""
        return self.wine(self.exe(*PLAYER), *args, check=check)

    def player_title(self):
        return self.probe('title-of', PLAYER_CLASS)

    def player_commands(self):
        """The player's log without Plavox's polling."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [line.strip() for line in f if not is_polling(line)]

    # ---- Nightjar ----

    def start_nightjar(self, trace=None, seconds=20):
        """Starts Nightjar and waits for its port chooser; with `trace` (a
        file) the cable's trace of Nightjar's wire calls goes there."""
        if trace is None:
            self.nightjar = self.start(self.exe(*NIGHTJAR))
        else:
            self.nightjar = self.start(self.exe(*NIGHTJAR), stderr=trace, env=self.traced_env())
        self.probe('wait', CHOOSER, str(seconds))

    def choose_port(self, n):
        self.probe('click', CHOOSER, str(n))

    def run_nightjar(self, trace=None, seconds=20):
        """Nightjar started on this rig's port, its main window up."""
        self.start_nightjar(trace, seconds)
        self.choose_port(self.nightjar_port)
        expect(self.probe('wait', MAIN, str(seconds), check=False) == '', 'no main window')

    def state(self):
        return self.probe('state', MAIN)

    def capture(self, rect, path):
        """A screenshot of the part (x, y, width, height) of the display, saved to `path`."""
        x, y, w, h = (int(v) for v in rect)
        whole = os.path.join(self.tmp, 'screen.png')
        subprocess.run(['import', '-window', 'root', whole], env=self.env, check=True, timeout=60)
        subprocess.run(['convert', whole, '-crop', f'{w}x{h}+{x}+{y}', '+repage', path], check=True, timeout=60)

    def cable_show(self):
        """What `njcable --show` says of the rig's cable: each end's pty and the wires it drives."""
        state = self.env['NJ_CABLE_STATE'].split(':')[0]
        return subprocess.run([os.path.join(self.env['NJ_NATIVE_DIR'], 'sim', 'vcable', 'njcable'), '--show', state],
                              capture_output=True, text=True, check=True, timeout=30).stdout

    def cable_end(self, end):
        """The pty of the cable's end 0 (Nightjar's) or 1 (the calculator's)."""
        return re.search(rf'^end {end} (\S+):', self.cable_show(), re.M).group(1)

    def wires_driven_by_nightjar(self):
        """The wires Nightjar's end of the cable pulls now: a subset of 'AB'."""
        line = next(line for line in self.cable_show().splitlines() if line.startswith('end 0 '))
        return ''.join(w for w in 'AB' if f'{w} pulled' in line)

    def wait_exit(self, seconds):
        try:
            self.nightjar.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    # ---- the calculator end ----

    def linkcat(self, *args, timeout=10, stats=False):
        """linkcat's command line on the calculator's port."""
        return [self.exe(*LINKCAT), '--timeout', str(timeout), *(['--stats'] if stats else []),
                str(self.calculator_port), *args]

    def calculator(self, *args, timeout=10, stats=False, trace=False):
        return self.wine(*self.linkcat(*args, timeout=timeout, stats=stats), timeout=timeout + 30, check=False,
                         env=self.traced_env() if trace else None)

    def receive(self, count, timeout=10):
        r = self.calculator('recv', str(count), timeout=timeout)
        if r.returncode != 0:
            raise Failure(f'calculator received nothing: {r.stderr.strip()}')
        return [int(b) for b in r.stdout.split()]
