"""The bridge's pieces around a Nightjar rig: a private session bus, fake or
real MPRIS players on it, nj-mpris-helper (native) and nj-mpris-bridge.exe
(under Wine). Everything started here is ended here."""
import json
import os
import secrets
import select
import signal
import subprocess

from .checks import Failure, eventually, expect
from .rig import Rig
from .wine import TOP

FAKE_PLAYER = os.path.join(TOP, 'sim', 'mprisplayer', 'fake_player.py')
HELPER_LSAN = os.path.join(TOP, 'adapters', 'mpris', 'helper', 'lsan.supp')

PYTHON = '/usr/bin/python3'  # the one with dbus and gi


def read_line(stream, seconds):
    ready, _, _ = select.select([stream], [], [], seconds)
    return stream.readline().strip() if ready else ''


class PrivateBus:
    def __init__(self):
        self.proc = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                                     stderr=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, text=True)
        self.address = read_line(self.proc.stdout, 10)
        if not self.address:
            self.proc.kill()
            raise Failure('dbus-daemon gave no address')

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class FakePlayer:
    def __init__(self, env, name, log, *args):
        self.name = name
        self.proc = subprocess.Popen([PYTHON, FAKE_PLAYER, name, log, *args],
                                     env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if read_line(self.proc.stdout, 15) != 'ready':
            raise Failure(f'fake player {name} did not start')

    def tell(self, **command):
        self.proc.stdin.write(json.dumps(command) + '\n')
        self.proc.stdin.flush()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)


class MprisRig:
    """A Nightjar rig whose player is the bridge."""

    def __init__(self, build):
        self.rig = Rig(build)
        self.native = os.path.abspath(self.rig.env['NJ_NATIVE_DIR'])
        self.token = secrets.token_hex(16)
        self.players = []
        self.helper = None
        self.port = 0
        self.calls_log = os.path.join(self.rig.tmp, 'calls.log')

    def __enter__(self):
        self.bus = PrivateBus()
        self.rig.env.update(DBUS_SESSION_BUS_ADDRESS=self.bus.address, NJ_MPRIS_TOKEN=self.token)
        try:
            self.rig.__enter__()
        except BaseException:
            self.bus.close()
            raise
        return self

    def __exit__(self, *exc):
        try:
            self.rig.__exit__(*exc)
        finally:
            self.stop_helper()
            for p in self.players:
                p.close()
            self.bus.close()
        return False

    def native_env(self):
        # The cable's preload library is for Wine; the sanitized helper wants none.
        env = {k: v for k, v in self.rig.env.items() if k not in ('LD_PRELOAD', 'WINEPREFIX')}
        env['LSAN_OPTIONS'] = 'suppressions=' + HELPER_LSAN
        return env

    def add_player(self, name, *args):
        player = FakePlayer(self.native_env(), name, self.calls_log, *args)
        self.players.append(player)
        return player

    def start_helper(self, *args):
        command = [os.path.join(self.native, 'adapters', 'mpris', 'helper', 'nj-mpris-helper')]
        if self.port:
            command += ['--port', str(self.port)]
        self.helper_log = open(os.path.join(self.rig.tmp, 'helper.log'), 'a')
        self.helper = subprocess.Popen(command + list(args), env=self.native_env(), stdout=subprocess.PIPE,
                                       stderr=self.helper_log, text=True)
        line = read_line(self.helper.stdout, 15)
        expect(line.startswith('port='), f'the helper did not start: {line!r}')
        self.port = int(line.split()[0].split('=')[1])

    def stop_helper(self):
        """Ends the helper as a user would; its exit status (sanitizers included)."""
        if not self.helper or self.helper.poll() is not None:
            return self.helper.returncode if self.helper else 0
        self.helper.send_signal(signal.SIGTERM)
        try:
            return self.helper.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.helper.kill()
            self.helper.wait()
            return -1

    def start_bridge(self, stderr=None):
        exe = self.rig.exe('adapters', 'mpris', 'bridge', 'nj-mpris-bridge.exe')
        if stderr is None:
            self.bridge = self.rig.start(exe, '--port', str(self.port))
            return
        self.bridge = subprocess.Popen(['wine', exe, '--port', str(self.port)], env=dict(self.rig.env, NJ_MPRIS_TRACE='1'),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
        self.rig.procs.append(self.bridge)

    def start_nightjar(self, bridge_stderr=None):
        """Bridge, Nightjar on its port, main window up; the caller takes the first announcement."""
        self.start_helper()
        self.start_bridge(bridge_stderr)
        self.rig.start_nightjar()
        self.rig.choose_port(self.rig.nightjar_port)
        expect(self.rig.probe('wait', 'Nightjar', '20', check=False) == '', 'no main window')

    def calls(self, since=0):
        if not os.path.exists(self.calls_log):
            return []
        with open(self.calls_log) as f:
            return [c for c in map(json.loads, f) if 'call' in c][since:]

    def events(self):
        if not os.path.exists(self.calls_log):
            return []
        with open(self.calls_log) as f:
            return [c for c in map(json.loads, f) if 'event' in c]

    def call_names(self, since=0):
        return [' '.join([c['call'], *map(str, c['args'])]) for c in self.calls(since)]

    def wait_calls(self, since, count, seconds=10):
        return eventually(lambda: len(self.calls(since)) >= count, seconds) and self.call_names(since)

    def plavoxsim(self, *args):
        """plavoxsim's helper verbs talk to whatever window has the player's class."""
        return self.rig.wine(self.rig.exe('sim', 'plavoxsim', 'plavoxsim.exe'), *args, check=False)

    def ask(self, wparam, lparam):
        r = self.plavoxsim('--ask', str(lparam), str(wparam))
        expect(r.returncode == 0, f'no answer to {wparam} {lparam}: {r.stderr}')
        return int(r.stdout.strip())

    def player_window_title(self):
        return self.rig.probe('title-of', 'Plavox v1.x', check=False)

    def playerctl(self, *args):
        return subprocess.run(['playerctl', *args], env=self.native_env(), capture_output=True, text=True,
                              timeout=15).stdout.strip()
