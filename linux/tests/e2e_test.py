#!/usr/bin/python3
"""nightjar end to end on the virtual cable, natively, no Wine, with the
libticables2 calculator end (sim/ticalc) at the far end.

    e2e_test.py NATIVE_BUILD_DIR

With the scripted player side: commands reach the player, tracks reach the
calculator, the gone player is announced emptied once; a calculator that
stops mid-byte or mid-announcement, noise on the wires and a device that
goes away and comes back (with --wait-device) all leave the program
working; the exit statuses hold.

With MPRIS, on a private session bus with fake players: every command byte
reaches the player as its MPRIS call, track changes reach the calculator
(artist, 0, title, 0, 2), a player quitting is announced emptied once, a
second player is followed, and a player that hangs does not keep the
calculator from driving another.
Every wait is for an event, with a limit.
"""
import fcntl
import json
import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'lib'))
from njharness.checks import eventually  # noqa: E402
from njharness import native  # noqa: E402
from njharness.mpris import HELPER_LSAN, HelperRig  # noqa: E402
from njharness.native import LIMIT, Lines  # noqa: E402

# --noise END, --hold END, --release END and --glitch END WIRE SECONDS run in
# a process of their own, which starts with the cable's library.
WIRE_TOOLS = ('--noise', '--hold', '--release', '--glitch')
WIRE_TOOL = sys.argv[1] if len(sys.argv) > 2 and sys.argv[1] in WIRE_TOOLS else None
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 and not WIRE_TOOL else None
LIMIT = 30.0  # seconds any one event may take on a slow machine

TIOCMBIS, TIOCMBIC, TIOCM_DTR, TIOCM_RTS = 0x5416, 0x5417, 0x002, 0x004


class Cable(native.Cable):
    def __init__(self, tmp):
        super().__init__(BUILD, tmp)


def ticalc_command(cable, *args):
    """The libticables2 calculator end on the cable's far end: its command line and environment."""
    return ([os.path.join(BUILD, 'sim/ticalc/ticalc'), '--timeout', '10', *args],
            dict(os.environ, NJ_CABLE_REDIRECT='/dev/ttyS1=' + cable.ends[1]))


def ticalc(cable, *args, check=True):
    command, env = ticalc_command(cable, *args)
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=LIMIT)
    if check and done.returncode != 0:
        raise AssertionError('ticalc %s: %s' % (args, done.stderr))
    return done.stdout.split()


def in_cable_environment():
    native.in_cable_environment(BUILD, HELPER_LSAN)


class OnACable(unittest.TestCase):
    """One nightjar on a virtual cable of its own for all of a class's tests, in order."""
    CABLE = ()  # nightjar's own driver

    @classmethod
    def lay_cable(cls, prefix):
        cls.tmp = tempfile.TemporaryDirectory(prefix=prefix)
        in_cable_environment()
        cls.cable = Cable(cls.tmp.name)

    @classmethod
    def start_nightjar(cls, *args, env=None, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL):
        cls.nj = subprocess.Popen([os.path.join(BUILD, 'linux/nightjar'), *cls.CABLE, '--device', cls.cable.device,
                                   '--verbose', *args], env=env, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
        cls.log = Lines(cls.nj.stderr)
        cls.log.wait_for('opened')

    @classmethod
    def stop_nightjar(cls):
        cls.nj.send_signal(signal.SIGTERM)
        status = cls.nj.wait(LIMIT)
        for stream in (cls.nj.stdin, cls.nj.stdout, cls.nj.stderr):
            if stream:
                stream.close()
        return status

    @classmethod
    def take_up_cable(cls, status):
        cls.cable.stop()
        cls.tmp.cleanup()
        assert status == 0, 'nightjar ended with %d on SIGTERM' % status


class NightjarEndToEnd(OnACable):
    @classmethod
    def setUpClass(cls):
        cls.lay_cable('nj-e2e.')
        cls.start_nightjar('--wait-device', '--scripted-player', stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        cls.calls = Lines(cls.nj.stdout)

    @classmethod
    def tearDownClass(cls):
        cls.take_up_cable(cls.stop_nightjar())

    def player(self, line):
        self.nj.stdin.write((line + '\n').encode())
        self.nj.stdin.flush()

    def assert_calls(self, *bytes_):
        start = self.calls.count()
        ticalc(self.cable, 'send', *map(str, bytes_))
        for b in bytes_:
            start = self.calls.wait_for('call %d ' % b, start) + 1

    def test_1_commands_reach_the_player_as_nightjar_exe_calls_them(self):
        start = self.calls.count()
        ticalc(self.cable, 'send', '2', '3', '49', '50', '51', '52', '53', '54', '7')
        expected = ['call 2 6003000B', 'call 3 6003000A', 'call 49 60030008', 'call 50 60030007',
                    'call 51 60030006', 'call 52 60030005', 'call 53 60030009']
        for line in expected:
            start = self.calls.wait_for(line, start) + 1

    def test_2_tracks_and_the_gone_player(self):
        self.player('track Art\tCaf\u00e9 \u20ac')
        self.assertEqual(ticalc(self.cable, 'recv', '12'),
                         ['65', '114', '116', '0', '67', '97', '102', '233', '32', '128', '0', '2'])
        self.player('gone')
        self.assertEqual(ticalc(self.cable, 'recv', '3'), ['0', '0', '2'])
        self.player('gone')  # once only: the next thing on the wires is the calculator's own byte
        self.assert_calls(52)

    def test_3_a_calculator_that_stops_mid_byte(self):
        mark = self.log.count()
        ticalc(self.cable, 'bits', '85', '3')
        self.log.wait_for('byte from the calculator dropped', mark)
        self.assert_calls(49)

    def test_4_a_calculator_switched_off_mid_announcement(self):
        mark = self.log.count()
        self.player('track A\tFirst')
        self.assertEqual(ticalc(self.cable, 'recv', '2'), ['65', '0'])
        self.log.wait_for('announcement of "A" / "First" dropped', mark)
        self.player('track B\tSecond')
        self.assertEqual(ticalc(self.cable, 'recv', '10'), ['66', '0', '83', '101', '99', '111', '110', '100', '0', '2'])

    def test_5_noise_on_the_wires(self):
        # In a process of its own, which starts with the cable's library.
        subprocess.run([sys.executable, __file__, '--noise', self.cable.ends[1]], check=True, timeout=LIMIT)
        # The loop drops whatever the noise started, then takes bytes again.
        # A try that nightjar did not answer (it had not yet seen the wires
        # idle) leaves the wire libticables2 pulled: the calculator's end
        # lets go, as a calculator's program does, before the next try.
        for _ in range(10):
            subprocess.run([sys.executable, __file__, '--release', self.cable.ends[1]], check=True, timeout=LIMIT)
            start = self.calls.count()
            command, env = ticalc_command(self.cable, '--timeout', '2', 'send', '53')
            if subprocess.run(command, env=env, capture_output=True, timeout=LIMIT).returncode == 0:
                self.calls.wait_for('call 53 ', start)
                return
        self.fail('no byte got through after the noise')

    # 5 ms to 0.9 s.
    GLITCHES = (0.005, 0.02, 0.1, 0.6)

    def glitch(self, wire, seconds):
        """One wire of the calculator's end pulled for `seconds` and released,
        as plugging in a cable or switching a calculator on does; nightjar
        drops what it began and is idle again."""
        mark = self.log.count()
        subprocess.run([sys.executable, __file__, '--glitch', self.cable.ends[1], wire, str(seconds)],
                       check=True, timeout=LIMIT)
        self.log.wait_for('the wires are idle again', self.log.wait_for('dropped', mark))

    def test_5b_glitches_between_keys_and_announcements_carry_out_nothing(self):
        rng = random.Random(20)
        first_call, first_line = self.calls.count(), self.log.count()
        sent = []
        for n in range(8):
            # Within the bound inside a byte and well past it.
            self.glitch(rng.choice('AB'), rng.choice(self.GLITCHES) * rng.uniform(1, 1.5))
            if n % 2:
                expected = announcement('G', 'Run%d' % n)
                receiver = Receiver(self.cable, len(expected))
                self.player('track G\tRun%d' % n)
                self.assertEqual(receiver.bytes(), expected)
            else:
                key = rng.choice([2, 3, 49, 52, 53])
                sent.append(key)
                self.assert_calls(key)
        # Nothing but the keys sent reached the player, and no other byte arrived.
        calls = [line.split()[1] for line in self.calls.lines[first_call:] if line.startswith('call ')]
        self.assertEqual(calls, [str(k) for k in sent])
        self.assertFalse([line for line in self.log.lines[first_line:] if 'no command' in line])

    def test_5c_a_wire_held(self):
        # A calculator end that pulls a wire and keeps it pulled: the byte it
        # seems to begin is dropped, nothing is taken while the wire is held,
        # and the link is back once it is let go.
        mark, calls = self.log.count(), self.calls.count()
        holder = subprocess.Popen([sys.executable, __file__, '--hold', self.cable.ends[1]],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b'held')
            self.log.wait_for('byte from the calculator dropped', mark)
        finally:
            holder.stdin.write(b'release\n')
            holder.stdin.close()
            self.assertEqual(holder.wait(LIMIT), 0)
            holder.stdout.close()
        self.log.wait_for('the wires are idle again', mark)
        self.assertEqual(self.calls.count(), calls)
        self.assert_calls(51)

    def test_6_check_cable_shows_the_far_end_pulling_a_wire(self):
        # On the calculator's end, while nightjar starts an announcement nobody answers.
        check = subprocess.Popen([os.path.join(BUILD, 'linux/nightjar'), '--check-cable', '--device',
                                  self.cable.ends[1]], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            shown = Lines(check.stdout)
            shown.wait_for('idle: both wires released')
            mark = self.log.count()
            self.player('track Check\tCable')
            shown.wait_for('pulled')
            self.log.wait_for('dropped', mark)
        finally:
            check.send_signal(signal.SIGINT)
            self.assertEqual(check.wait(LIMIT), 0)
            check.stdout.close()
            check.stderr.close()

    def test_7_the_device_goes_away_and_comes_back(self):
        mark = self.log.count()
        os.unlink(self.cable.device)
        self.cable.njcable('--unplug', '0')
        self.log.wait_for('the device went away', mark)
        self.log.wait_for('waiting for it', mark)
        self.cable.njcable('--plug', '0')
        os.symlink(self.cable.ends[0], self.cable.device)
        self.log.wait_for('opened', mark)
        # Back on the cable, the calculator is told the current track again
        # (the one of test 6, which nobody took then).
        self.assertEqual(ticalc(self.cable, 'recv', '13'),
                         ['67', '104', '101', '99', '107', '0', '67', '97', '98', '108', '101', '0', '2'])
        self.assert_calls(50)


class NightjarOnLibticables(NightjarEndToEnd):
    """The same, with libticables2's own black-cable driver under the same link loop."""
    CABLE = ('--cable', 'black-ticables')
    # Between transfers this layer asks the cable every 20 ms whether a byte
    # has begun, so a shorter pull may pass unseen, which carries out nothing
    # but leaves no line in the log to wait for.
    GLITCHES = (0.1, 0.3, 0.6)


class CheckCableOnLibticables(OnACable):
    """--check-cable on a cable libticables2 drives: there, opened, and the bytes a key sends."""

    @classmethod
    def setUpClass(cls):
        cls.lay_cable('nj-e2e-check.')

    @classmethod
    def tearDownClass(cls):
        cls.take_up_cable(0)

    def test_the_bytes_a_calculator_sends_show(self):
        check = subprocess.Popen([os.path.join(BUILD, 'linux/nightjar'), '--check-cable', '--cable', 'black-ticables',
                                  '--device', self.cable.device], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            shown = Lines(check.stdout)
            shown.wait_for('present and opened')
            ticalc(self.cable, 'send', '52', '49')
            shown.wait_for('a byte arrived: 49', shown.wait_for('a byte arrived: 52'))
        finally:
            check.send_signal(signal.SIGINT)
            self.assertEqual(check.wait(LIMIT), 0)
            check.stdout.close()
            check.stderr.close()


def announcement(artist, title):
    """The bytes of an announcement, as the calculator receives them (Windows-1252)."""
    return [str(b) for b in artist.encode('cp1252') + b'\0' + title.encode('cp1252') + b'\0\2']


class Receiver:
    """ticalc receiving `count` bytes, started before what it is to receive
    is set off."""

    def __init__(self, cable, count):
        command, env = ticalc_command(cable, 'recv', str(count))
        self.proc = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def bytes(self):
        out, err = self.proc.communicate(timeout=LIMIT)
        if self.proc.returncode != 0:
            raise AssertionError('ticalc recv: ' + err)
        return out.split()


# One track each, so that Next and Previous change no title: a calculator
# end that has just sent a key is still closing its port when an
# announcement would start. Track changes are the players' own, with the
# calculator listening first.
PLAYER_TRACKS = {
    'alpha': [{'xesam:artist': ['The Lantern Moths'], 'xesam:title': 'Cold Harbour', 'xesam:trackNumber': 1}],
    'beta': [{'xesam:artist': ['Beta Band'], 'xesam:title': 'Second Player', 'xesam:trackNumber': 1}],
    'gamma': [{'xesam:artist': ['Gamma Ray'], 'xesam:title': 'Third Player', 'xesam:trackNumber': 1}],
}


class NightjarOnMpris(OnACable):
    """nightjar on a private session bus, with fake players."""

    @classmethod
    def setUpClass(cls):
        cls.lay_cable('nj-e2e-mpris.')
        cls.rig = HelperRig(BUILD, tmp=cls.tmp.name)
        cls.rig.start_bus()
        cls.start_nightjar(env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=cls.rig.bus.address))
        cls.players = {}

    @classmethod
    def tearDownClass(cls):
        for player in cls.rig.players:
            if player.stopped:
                player.resume()
        status = cls.stop_nightjar()
        print('\n'.join(['nightjar on MPRIS said:', *cls.log.lines]), file=sys.stderr)
        cls.rig.close()
        cls.take_up_cable(status)

    def add_player(self, name):
        self.players[name] = self.rig.add_player(name, '--tracks', json.dumps(PLAYER_TRACKS[name]))
        return self.players[name]

    def key(self, byte, player, call, *args):
        """Presses a key; `player` gets `call` with `args` for it."""
        since = len(self.rig.calls())
        ticalc(self.cable, 'send', str(byte))
        got = eventually(lambda: self.rig.calls(since), LIMIT, 0.01)
        self.assertTrue(got, 'key %d: no call at any player' % byte)
        self.assertEqual((got[0]['player'], got[0]['call'], got[0]['args']), (player, call, list(args)),
                         'key %d' % byte)

    def assert_announced(self, artist, title, set_off=None):
        """`set_off` (or what was done already) leads to this announcement."""
        expected = announcement(artist, title)
        mark = self.log.count()
        receiver = Receiver(self.cable, len(expected))
        if set_off:
            set_off()
        self.assertEqual(receiver.bytes(), expected)
        # nightjar's own word that it is done, so later lines are later events.
        self.log.wait_for('announce', mark)

    def test_1_the_player_that_appears_is_announced(self):
        self.assert_announced('The Lantern Moths', 'Cold Harbour', lambda: self.add_player('alpha'))

    def test_2_every_command_byte_is_its_mpris_call(self):
        # In an order where the player's state lets each call through.
        self.key(52, 'alpha', 'Play')
        self.key(3, 'alpha', 'Seek', 5000000)
        self.key(2, 'alpha', 'Seek', -5000000)
        self.key(51, 'alpha', 'Pause')
        self.key(51, 'alpha', 'Play')  # the media player's Pause resumes a paused track
        # Bytes that are no player call (show/hide, unknown) reach no player.
        ticalc(self.cable, 'send', '54', '7')
        self.key(49, 'alpha', 'Next')
        self.key(53, 'alpha', 'Previous')
        self.key(50, 'alpha', 'Stop')

    def test_3_metadata_changes_only_when_the_title_does(self):
        alpha = self.players['alpha']
        # Letters with separate accents, as some files are tagged, arrive composed.
        self.assert_announced('Caf\u00e9 Noir', 'R\u00e9sum\u00e9 \u20ac', lambda: alpha.tell(
            metadata={'xesam:artist': ['Cafe\u0301 Noir'], 'xesam:title': 'Re\u0301sume\u0301 \u20ac'}))
        # Another artist under the same title: not announced, as on Windows,
        # so the next thing on the wires is the calculator's key.
        mark, changes = self.log.count(), len(self.rig.events())
        alpha.tell(metadata={'xesam:artist': ['Someone Else'], 'xesam:title': 'R\u00e9sum\u00e9 \u20ac'})
        self.assertTrue(eventually(lambda: len(self.rig.events()) > changes, LIMIT, 0.01))
        self.key(52, 'alpha', 'Play')
        self.key(51, 'alpha', 'Pause')
        self.assertNotIn('announc', ' '.join(self.log.lines[mark:]))

    def test_4_the_player_quitting_is_announced_emptied_once(self):
        self.assert_announced('', '', lambda: self.players['alpha'].tell(quit=True))
        self.log.wait_for('no player to follow')
        mark = self.log.count()
        ticalc(self.cable, 'send', '52')  # the next thing on the wires is the key, not another announcement
        self.log.wait_for('byte 52: play: no player to carry it out', mark)

    def test_5_a_second_player_is_followed(self):
        self.assert_announced('Beta Band', 'Second Player', lambda: self.add_player('beta'))
        self.key(52, 'beta', 'Play')
        # A third one that starts playing is followed from then on.
        gamma = self.add_player('gamma')
        self.assert_announced('Gamma Ray', 'Third Player', lambda: gamma.tell(status='Playing'))
        self.key(49, 'gamma', 'Next')

    def test_6_a_hung_player_does_not_stop_the_calculator_driving_another(self):
        gamma, beta = self.players['gamma'], self.players['beta']
        gamma.stop()  # SIGSTOP: it keeps its names and answers nothing
        # A key for the hung player: the calculator is not kept waiting, and
        # the key is dropped rather than carried out whenever gamma wakes.
        mark = self.log.count()
        ticalc(self.cable, 'send', '52')
        self.log.wait_for('gamma does not answer; dropped: play', mark)
        beta.tell(status='Paused')
        self.assert_announced('Beta Band', 'Second Player', lambda: beta.tell(status='Playing'))
        # Keys that keep beta playing: paused, it would give way to gamma,
        # which is still playing as far as anyone can tell.
        self.key(3, 'beta', 'Seek', 5000000)
        self.key(52, 'beta', 'Play')
        self.key(2, 'beta', 'Seek', -5000000)
        gamma.resume()


def make_noise(end):
    rng = random.Random(16)
    fd = os.open(end, os.O_RDWR | os.O_NOCTTY)
    try:
        for _ in range(300):
            bit = rng.choice([TIOCM_RTS, TIOCM_DTR])
            fcntl.ioctl(fd, rng.choice([TIOCMBIS, TIOCMBIC]), struct.pack('i', bit))
        fcntl.ioctl(fd, TIOCMBIS, struct.pack('i', TIOCM_RTS | TIOCM_DTR))
    finally:
        os.close(fd)


def release_both(end):
    fd = os.open(end, os.O_RDWR | os.O_NOCTTY)
    try:
        fcntl.ioctl(fd, TIOCMBIS, struct.pack('i', TIOCM_RTS | TIOCM_DTR))
    finally:
        os.close(fd)


class ExitStatuses(unittest.TestCase):
    def run_nightjar(self, *args):
        return subprocess.run([os.path.join(BUILD, 'linux/nightjar'), *args], capture_output=True, text=True,
                              timeout=LIMIT, env=dict(os.environ, XDG_CONFIG_HOME='/nonexistent'))

    def test_statuses_a_script_can_rely_on(self):
        self.assertEqual(self.run_nightjar('--version').returncode, 0)
        self.assertEqual(self.run_nightjar('--list-devices').returncode, 0)
        self.assertEqual(self.run_nightjar('--bogus').returncode, 2)
        self.assertEqual(self.run_nightjar().returncode, 2)  # no device anywhere
        missing = self.run_nightjar('--device', '/nonexistent/ttyUSB9')
        self.assertEqual(missing.returncode, 3)
        self.assertIn('no such device', missing.stderr)
        not_serial = self.run_nightjar('--device', '/dev/null')
        self.assertEqual(not_serial.returncode, 5)
        self.assertIn('not a serial port', not_serial.stderr)
        for cable in ('black-ticables', 'gray'):
            self.assertEqual(self.run_nightjar('--cable', cable, '--device', '/dev/null').returncode, 5)
        # No TI USB cable is plugged into a test machine.
        self.assertIn('no TI USB cables found', self.run_nightjar('--list-devices').stdout)
        unplugged = self.run_nightjar('--cable', 'silverlink')
        self.assertEqual(unplugged.returncode, 3)
        self.assertIn('SilverLink #1: not plugged in', unplugged.stderr)


def hold_a_wire(end):
    fd = os.open(end, os.O_RDWR | os.O_NOCTTY)
    try:
        fcntl.ioctl(fd, TIOCMBIC, struct.pack('i', TIOCM_RTS))
        print('held', flush=True)
        sys.stdin.readline()
        fcntl.ioctl(fd, TIOCMBIS, struct.pack('i', TIOCM_RTS | TIOCM_DTR))
    finally:
        os.close(fd)


def glitch(end, wire, seconds):
    fd = os.open(end, os.O_RDWR | os.O_NOCTTY)
    line = TIOCM_RTS if wire == 'A' else TIOCM_DTR
    try:
        fcntl.ioctl(fd, TIOCMBIC, struct.pack('i', line))
        time.sleep(seconds)
        fcntl.ioctl(fd, TIOCMBIS, struct.pack('i', line))
    finally:
        os.close(fd)


if __name__ == '__main__':
    if WIRE_TOOL == '--glitch':
        glitch(sys.argv[2], sys.argv[3], float(sys.argv[4]))
    elif WIRE_TOOL:
        {'--noise': make_noise, '--hold': hold_a_wire, '--release': release_both}[WIRE_TOOL](sys.argv[2])
    else:
        unittest.main(verbosity=2)
