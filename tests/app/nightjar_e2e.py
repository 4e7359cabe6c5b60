#!/usr/bin/env python3
"""Drives the real Nightjar.exe under Wine: a virtual cable with COM1 (or the
port under test) at Nightjar's end and COM2 at the calculator's, linkcat.exe
as the calculator, plavoxsim.exe as the media player, njprobe.exe to find,
click, minimise and close windows.

    nightjar_e2e.py BUILD_DIR [TEST ...]      run the tests (all by default)
    nightjar_e2e.py BUILD_DIR --screenshots DIR

Every step has a deadline; each test ends with the prefix's wineserver
killed and the cable taken down, so nothing outlives it.
"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, '..', '..'))


class Failure(Exception):
    pass


class Rig:
    """One run of the program with its cable, player and calculator."""

    def __init__(self, build, nightjar_port=1, cable=True):
        self.build = build
        self.env = dict(os.environ, WINEPREFIX=os.path.join(build, 'wineprefix'), WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=')
        self.env.setdefault('NJ_NATIVE_DIR', os.path.join(build, '..', 'native'))
        self.tmp = tempfile.mkdtemp(prefix='nj-e2e-')
        self.cable_dir = os.path.join(self.tmp, 'cable')
        self.log = os.path.join(self.tmp, 'player.log')
        self.procs = []
        self.nightjar_port = nightjar_port
        self.cable = cable

    def exe(self, *parts):
        return os.path.join(self.build, *parts)

    def __enter__(self):
        if self.cable:
            calculator_port = 2 if self.nightjar_port != 2 else 3
            self.calculator_port = calculator_port
            subprocess.run([os.path.join(TOP, 'sim', 'vcable', 'cable.sh'), 'up', self.cable_dir,
                            str(self.nightjar_port), str(calculator_port)], env=self.env, check=True,
                           stdout=subprocess.DEVNULL, timeout=60)
            with open(os.path.join(self.cable_dir, 'env')) as f:
                for line in f:
                    if line.startswith('export '):
                        key, value = line[len('export '):].strip().split('=', 1)
                        self.env[key] = value.strip("'")
        self.wine('regsvr32', '/s', self.exe('playerctl', 'Plavox.ocx'))
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
        subprocess.run(['wineserver', '-k'], env=self.env, timeout=30)
        if self.cable:
            subprocess.run([os.path.join(TOP, 'sim', 'vcable', 'cable.sh'), 'down', self.cable_dir], env=self.env,
                           timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for p in self.procs:
            p.wait(timeout=10)
        return False

    def wine(self, *args, timeout=30, check=True):
        # Output goes through files, not pipes: Wine's own background processes,
        # started by whichever command comes first, would keep a pipe open.
        with tempfile.TemporaryFile('w+') as out, tempfile.TemporaryFile('w+') as err:
            code = subprocess.run(['wine', *args], env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            r = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if check and r.returncode != 0:
            raise Failure(f'{args[0]} {args[1:]} failed ({r.returncode}): {r.stdout} {r.stderr}')
        return r

    def start(self, *args):
        p = subprocess.Popen(['wine', *args], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def probe(self, *args, check=True, timeout=30):
        return self.wine(self.exe('tests', 'app', 'njprobe.exe'), *args, check=check, timeout=timeout).stdout.strip()

    def start_player(self, *args):
        self.start(self.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--log', self.log, *args)
        self.probe('wait', '1. ', '0', check=False)  # any title will do; just let it come up
        time.sleep(1)

    def start_nightjar(self):
        self.nightjar = self.start(self.exe('controller', 'app', 'Nightjar.exe'))
        self.probe('wait', 'Set Link Port:', '20')

    def choose_port(self, n):
        self.probe('click', 'Set Link Port:', str(n))

    def calculator(self, *args, timeout=10):
        r = self.wine(self.exe('sim', 'linkcat', 'linkcat.exe'), '--timeout', str(timeout), str(self.calculator_port),
                      *args, timeout=timeout + 30, check=False)
        return r

    def receive(self, count, timeout=10):
        r = self.calculator('recv', str(count), timeout=timeout)
        if r.returncode != 0:
            raise Failure(f'calculator received nothing: {r.stderr.strip()}')
        return [int(b) for b in r.stdout.split()]

    def player_commands(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [line.strip() for line in f if not line.startswith('WM_USER 0 10') and
                    not line.startswith('WM_USER 1 1') and not line.startswith('WM_USER 0 126')]

    def state(self):
        return self.probe('state', 'Nightjar')

    def wait_exit(self, seconds):
        try:
            self.nightjar.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False


def expect(cond, what):
    if not cond:
        raise Failure(what)


def eventually(fn, seconds=10, interval=0.2):
    deadline = time.time() + seconds
    while True:
        value = fn()
        if value or time.time() > deadline:
            return value
        time.sleep(interval)


def announcement(artist, title):
    data = artist.encode('cp1252') + b'\0' + title.encode('cp1252') + b'\0' + b'\2'
    return list(data)


def running(build, port=1):
    """A rig with the player up and Nightjar running on `port`, its first announcement taken."""
    rig = Rig(build, nightjar_port=port)
    return rig


# ---- tests ----------------------------------------------------------------

def test_each_port_button_opens_its_own_port(build):
    for port in (1, 2, 3, 4):
        with Rig(build, nightjar_port=port) as rig:
            rig.start_nightjar()
            rig.choose_port(port)
            expect(rig.probe('wait', 'Nightjar', '20', check=False) == '', f'port {port}: no main window')
            expect(rig.probe('gone', 'Set Link Port:', '5', check=False) == '', 'the chooser stayed open')
            # The calculator end can talk to Nightjar only over the port it opened.
            r = rig.calculator('send', '54', timeout=10)
            expect(r.returncode == 0, f'port {port}: the byte did not get through: {r.stderr}')
            expect(eventually(lambda: rig.state() == 'visible=0 iconic=0', 5), f'port {port}: byte 54 not acted on')


def test_a_port_that_cannot_be_opened_ends_with_one_message(build):
    with Rig(build, cable=False) as rig:
        rig.start_nightjar()
        rig.choose_port(3)  # no device behind COM3 in this prefix
        expect(rig.probe('wait', 'Error', '20', check=False) == '', 'no message box')
        expect(rig.probe('dialog', 'Error') == 'Error opening port!', 'wrong message')
        expect('visible=1' not in rig.probe('state', 'Nightjar', check=False), 'the main window was shown')
        expect(rig.probe('tray') != 'shown', 'the tray icon is up')
        expect(rig.probe('state', 'Set Link Port:', check=False) == '', 'the chooser came back')
        rig.probe('dialog-ok', 'Error')
        expect(rig.wait_exit(15), 'the program did not end after the message')


def test_closing_the_chooser_ends_the_program(build):
    with Rig(build, cable=False) as rig:
        rig.start_nightjar()
        rig.probe('close', 'Set Link Port:')
        expect(rig.wait_exit(15), 'the program is still running')


def start_running(rig):
    rig.start_player()
    rig.start_nightjar()
    rig.choose_port(rig.nightjar_port)
    expect(rig.probe('wait', 'Nightjar', '20', check=False) == '', 'no main window')
    expect(eventually(lambda: rig.probe('tray') == 'shown', 10), 'no tray icon')


def test_each_command_byte_reaches_the_player_and_others_do_nothing(build):
    with Rig(build) as rig:
        start_running(rig)
        rig.receive(1, timeout=15)  # the start-up announcement begins; drain it
        rig.calculator('recv', '200', timeout=3)
        before = len(rig.player_commands())
        r = rig.calculator('send', '2', '3', '49', '50', '51', '52', '53', '0', '1', '55', '255')
        expect(r.returncode == 0, f'send failed: {r.stderr}')
        time.sleep(1)
        got = [c for c in rig.player_commands()[before:] if c.startswith('WM_COMMAND')]
        expect(got == ['WM_COMMAND 40144 0', 'WM_COMMAND 40148 0', 'WM_COMMAND 40048 0', 'WM_COMMAND 40047 0',
                       'WM_COMMAND 40046 0', 'WM_COMMAND 40045 0', 'WM_COMMAND 40044 0'], f'player got {got}')
        expect(rig.state() == 'visible=1 iconic=0', 'unknown bytes changed the window')


FIRST = announcement('The Lantern Moths', 'Cold Harbour')


def test_a_new_title_is_announced_once_with_the_right_bytes(build):
    with Rig(build) as rig:
        start_running(rig)
        expect(rig.receive(len(FIRST), timeout=15) == FIRST, 'wrong start-up announcement')
        rig.wine(rig.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--send', '40048')  # the player moves on by itself
        time.sleep(1.5)
        title = rig.probe('title-of', 'Plavox v1.x')  # "N. Artist - Title - Plavox"
        artist, song = title.split('. ', 1)[1].rsplit(' - Plavox', 1)[0].split(' - ', 1)
        want = announcement(artist.strip(), song.strip())
        expect(rig.receive(len(want), timeout=15) == want, f'wrong announcement for {title!r}')
        expect(rig.calculator('recv', '1', timeout=3).returncode != 0, 'more than one announcement')


def test_window_states_follow_minimise_tray_and_byte_54(build):
    with Rig(build) as rig:
        start_running(rig)
        rig.receive(len(FIRST), timeout=15)
        steps = [
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=0'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.probe('minimize', 'Nightjar'), 'visible=0 iconic=1'),
            (lambda: rig.calculator('send', '54'), 'visible=1 iconic=1'),
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=1'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=0'),
            (lambda: rig.calculator('send', '54'), 'visible=1 iconic=0'),
        ]
        for i, (act, want) in enumerate(steps):
            act()
            expect(eventually(lambda: rig.state() == want, 5), f'step {i}: {rig.state()}, wanted {want}')


def test_a_close_request_ends_the_program_and_takes_the_icon_away(build):
    with Rig(build) as rig:
        start_running(rig)
        rig.receive(len(FIRST), timeout=15)
        rig.probe('close', 'Nightjar')
        expect(rig.wait_exit(10), 'still running 10 s after the close request')
        expect(rig.probe('dialog', 'Error', check=False) == '', 'an error was shown')


def test_a_close_request_during_a_transfer_ends_the_program(build):
    with Rig(build) as rig:
        start_running(rig)  # the announcement waits for a calculator that does not listen
        time.sleep(1)
        rig.probe('close', 'Nightjar')
        deadline = time.time() + 15
        while time.time() < deadline and rig.nightjar.poll() is None:
            if rig.probe('dialog', 'Error', check=False) == 'Error opening port!':
                rig.probe('dialog-ok', 'Error')  # the port went away under the transfer
            time.sleep(0.3)
        expect(rig.nightjar.poll() is not None, 'still running 15 s after the close request')


def screenshot(rig, title, path):
    x, y, w, h = rig.probe('rect', title).split()
    whole = os.path.join(rig.tmp, 'screen.png')
    subprocess.run(['import', '-window', 'root', whole], check=True, timeout=30)
    subprocess.run(['convert', whole, '-crop', f'{w}x{h}+{x}+{y}', '+repage', path], check=True, timeout=30)


def take_screenshots(build, folder):
    os.makedirs(folder, exist_ok=True)
    with Rig(build) as rig:
        rig.start_nightjar()
        time.sleep(1)
        screenshot(rig, 'Set Link Port:', os.path.join(folder, 'frmSetPort.png'))
        rig.choose_port(1)
        rig.probe('wait', 'Nightjar', '20')
        rig.probe('move', 'Wine System Tray', '900', '600', check=False)  # Wine's stand-in tray sits on top
        time.sleep(1)
        screenshot(rig, 'Nightjar', os.path.join(folder, 'frmMain.png'))


def run_tests(namespace, build, names):
    """Runs the test_ functions of a module (those named, or all), each on
    its own, and reports every one; returns the exit status."""
    tests = {k: v for k, v in namespace.items() if k.startswith('test_')}
    failed = 0
    for name, fn in tests.items():
        if names and name not in names:
            continue
        start = time.time()
        try:
            fn(build)
            print(f'PASS {name} ({time.time() - start:.1f} s)', flush=True)
        except Exception as e:  # noqa: BLE001 - report every kind of failure and go on
            failed += 1
            print(f'FAIL {name}: {e}', flush=True)
    return 1 if failed else 0


def main():
    build = os.path.abspath(sys.argv[1])
    if sys.argv[2:3] == ['--screenshots']:
        take_screenshots(build, sys.argv[3])
        return 0
    return run_tests(globals(), build, sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
