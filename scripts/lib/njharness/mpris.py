"""The MPRIS bridge's pieces: a private session bus, fake or real MPRIS
players on it, nj-mpris-helper (native), a client that speaks the line
protocol as the bridge does (HelperRig, no Wine), and around a Nightjar rig
nj-mpris-bridge.exe under Wine (MprisRig). Everything started here is ended
here."""
import json
import os
import secrets
import select
import signal
import socket
import subprocess
import tempfile
import time

from .checks import Failure, eventually, expect
from .rig import PLAYER_CLASS, Rig
from .wine import TOP

FAKE_PLAYER = os.path.join(TOP, 'sim', 'mprisplayer', 'fake_player.py')
HELPER_LSAN = os.path.join(TOP, 'adapters', 'mpris', 'helper', 'lsan.supp')

PYTHON = '/usr/bin/python3'  # the one with dbus and gi


def read_line(stream, seconds):
    ready, _, _ = select.select([stream], [], [], seconds)
    return stream.readline().strip() if ready else ''


def helper_env(environ):
    """`environ` as the native helper wants it: without the cable's preload
    library (it is for Wine) and with the sanitizer's suppressions."""
    env = {k: v for k, v in environ.items() if k not in ('LD_PRELOAD', 'WINEPREFIX')}
    env['LSAN_OPTIONS'] = 'suppressions=' + HELPER_LSAN
    return env


def start_helper(native, env, args=(), stderr=None):
    """The MPRIS helper of the native build `native`, started with `env`;
    returns it and the port it listens on, once it says so."""
    helper = subprocess.Popen([os.path.join(native, 'adapters', 'mpris', 'helper', 'nj-mpris-helper'), *args],
                              env=env, stdout=subprocess.PIPE, stderr=stderr, text=True)
    line = read_line(helper.stdout, 30)
    if not line.startswith('port='):
        helper.kill()
        helper.wait()
        raise Failure(f'the MPRIS helper did not start: {line!r}')
    return helper, int(line.split()[0].split('=')[1])


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
        self.stopped = False
        self.proc = subprocess.Popen([PYTHON, FAKE_PLAYER, name, log, *args],
                                     env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if read_line(self.proc.stdout, 15) != 'ready':
            raise Failure(f'fake player {name} did not start')

    def tell(self, **command):
        self.proc.stdin.write(json.dumps(command) + '\n')
        self.proc.stdin.flush()

    def stop(self):
        """SIGSTOP: it keeps its bus names and answers nothing."""
        self.proc.send_signal(signal.SIGSTOP)
        self.stopped = True

    def resume(self):
        self.proc.send_signal(signal.SIGCONT)
        self.stopped = False

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)


class BridgeClient:
    """Speaks the line protocol to the helper as the bridge does."""

    def __init__(self, port, token):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=10)
        self.pending = b''
        self.sock.sendall(f'HELLO {token}\n'.encode())

    def send(self, command):
        self.sock.sendall(f'CMD {command}\n'.encode())

    def line(self, seconds):
        """The next line from the helper, or None when none comes within `seconds`."""
        deadline = time.monotonic() + seconds
        while b'\n' not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                return None
            data = self.sock.recv(65536)
            if not data:
                return None
            self.pending += data
        line, self.pending = self.pending.split(b'\n', 1)
        return line.decode()

    def at_end(self, seconds):
        """True once the helper has closed the connection, within `seconds`; lines before that are skipped."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                return False
            try:
                if not self.sock.recv(65536):
                    return True
            except ConnectionResetError:
                return True

    def wait_for(self, want, seconds):
        """Reads lines until one for which want(line) holds; the lines read, or None."""
        seen = []
        deadline = time.monotonic() + seconds
        while True:
            line = self.line(max(0.0, deadline - time.monotonic()))
            if line is None:
                return None
            seen.append(line)
            if want(line):
                return seen

    def close(self):
        self.sock.close()


class HelperRig:
    """A private session bus, fake players on it and nj-mpris-helper: no Wine."""

    def __init__(self, native, tmp=None, env=None):
        self.native = os.path.abspath(native)
        self.tmp = tmp or tempfile.mkdtemp(prefix='nj-mpris-')
        self.base_env = dict(env if env is not None else os.environ)
        self.token = secrets.token_hex(16)
        self.players = []
        self.helper = None
        self.helper_log = None
        self.port = 0
        self.calls_log = os.path.join(self.tmp, 'calls.log')
        self.bus = None

    def start_bus(self):
        self.bus = PrivateBus()
        self.base_env.update(DBUS_SESSION_BUS_ADDRESS=self.bus.address, NJ_MPRIS_TOKEN=self.token)

    def __enter__(self):
        self.start_bus()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        self.stop_helper()
        for p in self.players:
            p.close()
        if self.bus:
            self.bus.close()
        if self.helper_log:
            self.helper_log.close()

    def native_env(self):
        return helper_env(self.base_env)

    def add_player(self, name, *args):
        player = FakePlayer(self.native_env(), name, self.calls_log, *args)
        self.players.append(player)
        return player

    def start_helper(self, *args):
        if not self.helper_log:
            self.helper_log = open(os.path.join(self.tmp, 'helper.log'), 'a')
        self.helper, self.port = start_helper(self.native, self.native_env(),
                                              [*(['--port', str(self.port)] if self.port else []), *args],
                                              stderr=self.helper_log)

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

    def helper_said(self):
        with open(os.path.join(self.tmp, 'helper.log')) as f:
            return f.read()

    def connect(self):
        return BridgeClient(self.port, self.token)

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
        """The names of the calls since `since` once there are `count`, else False."""
        return eventually(lambda: len(self.calls(since)) >= count, seconds) and self.call_names(since)

    def playerctl(self, *args):
        return subprocess.run(['playerctl', *args], env=self.native_env(), capture_output=True, text=True,
                              timeout=15).stdout.strip()


class MprisRig(HelperRig):
    """A Nightjar rig whose player is the bridge."""

    def __init__(self, build):
        self.rig = Rig(build)
        super().__init__(self.rig.env['NJ_NATIVE_DIR'], tmp=self.rig.tmp)
        self.base_env = self.rig.env  # the bus address goes to the Windows side too

    def __enter__(self):
        self.start_bus()
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
            self.close()
        return False

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

    def plavoxsim(self, *args):
        """plavoxsim's helper verbs talk to whatever window has the player's class."""
        return self.rig.wine(self.rig.exe('sim', 'plavoxsim', 'plavoxsim.exe'), *args, check=False)

    def ask(self, wparam, lparam):
        r = self.plavoxsim('--ask', str(lparam), str(wparam))
        expect(r.returncode == 0, f'no answer to {wparam} {lparam}: {r.stderr}')
        return int(r.stdout.strip())

    def player_window_title(self):
        return self.rig.probe('title-of', PLAYER_CLASS, check=False)
