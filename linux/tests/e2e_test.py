#!/usr/bin/python3
"""nightjar end to end on the virtual cable, natively, no Wine: the
libticables2 calculator end (sim/ticalc) at the far end, the scripted player
side in place of MPRIS.

    e2e_test.py NATIVE_BUILD_DIR

Commands reach the player, tracks reach the calculator, the gone player is
announced emptied once; a calculator that stops mid-byte or mid-announcement,
noise on the wires and a device that goes away and comes back (with
--wait-device) all leave the program working; the exit statuses hold.
Every wait is for an event, with a limit.
"""
import fcntl
import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

if len(sys.argv) == 3 and sys.argv[1] == '--noise':
    make_noise_in = sys.argv.pop(2)
    sys.argv.pop(1)
else:
    make_noise_in = None
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
LIMIT = 30.0  # seconds any one event may take on a slow machine

TIOCMBIS, TIOCMBIC, TIOCM_DTR, TIOCM_RTS = 0x5416, 0x5417, 0x002, 0x004


class Lines:
    """A process's output, line by line, waited for."""

    def __init__(self, stream):
        self.lines, self.cond = [], threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            with self.cond:
                self.lines.append(raw.decode('utf-8', 'replace').rstrip('\n'))
                self.cond.notify_all()

    def wait_for(self, text, start=0):
        """Index of the first line from `start` on that holds `text`."""
        deadline = time.monotonic() + LIMIT
        with self.cond:
            while True:
                for i in range(start, len(self.lines)):
                    if text in self.lines[i]:
                        return i
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError('no line with %r; got %r' % (text, self.lines[start:]))
                self.cond.wait(left)

    def count(self):
        with self.cond:
            return len(self.lines)


class Cable:
    def __init__(self, tmp):
        self.state = os.path.join(tmp, 'state')
        out = subprocess.run([os.path.join(BUILD, 'sim/vcable/njcable'), '--daemon', '--parent', str(os.getpid()),
                              self.state], check=True, capture_output=True, text=True).stdout.split()
        self.ends, self.pid = out[:2], int(out[2])
        os.environ['NJ_CABLE_STATE'] = self.state
        self.device = os.path.join(tmp, 'ttyCALC')  # the PC end, as a name that can vanish
        os.symlink(self.ends[0], self.device)

    def njcable(self, *args):
        subprocess.run([os.path.join(BUILD, 'sim/vcable/njcable'), *args, self.state], check=True)

    def stop(self):
        os.kill(self.pid, signal.SIGTERM)


def ticalc(cable, *args, check=True):
    env = dict(os.environ, NJ_CABLE_REDIRECT='/dev/ttyS1=' + cable.ends[1])
    done = subprocess.run([os.path.join(BUILD, 'sim/ticalc/ticalc'), '--timeout', '10', *args], env=env,
                          capture_output=True, text=True, timeout=LIMIT)
    if check and done.returncode != 0:
        raise AssertionError('ticalc %s: %s' % (args, done.stderr))
    return done.stdout.split()


class NightjarEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix='nj-e2e.')
        os.environ['LD_PRELOAD'] = os.path.join(BUILD, 'sim/vcable/lib/x86_64-linux-gnu/libnjcable.so')
        os.environ['ASAN_OPTIONS'] = 'verify_asan_link_order=0'
        cls.cable = Cable(cls.tmp.name)
        cls.nj = subprocess.Popen([os.path.join(BUILD, 'linux/nightjar'), '--device', cls.cable.device,
                                   '--wait-device', '--verbose', '--scripted-player'],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        cls.calls, cls.log = Lines(cls.nj.stdout), Lines(cls.nj.stderr)
        cls.log.wait_for('opened')

    @classmethod
    def tearDownClass(cls):
        cls.nj.send_signal(signal.SIGTERM)
        status = cls.nj.wait(LIMIT)
        for stream in (cls.nj.stdin, cls.nj.stdout, cls.nj.stderr):
            stream.close()
        cls.cable.stop()
        cls.tmp.cleanup()
        assert status == 0, 'nightjar ended with %d on SIGTERM' % status

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
        for _ in range(10):
            start = self.calls.count()
            ticalc(self.cable, 'send', '53', check=False)
            try:
                self.calls.wait_for('call 53 ', start)
                return
            except AssertionError:
                continue
        self.fail('no byte got through after the noise')

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


if __name__ == '__main__':
    if make_noise_in:
        make_noise(make_noise_in)
    else:
        unittest.main(verbosity=2)
