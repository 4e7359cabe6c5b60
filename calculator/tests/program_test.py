#!/usr/bin/python3
"""NIGHTJAR.8xp, the calculator's own program, run by the z80calc harness on
one end of the virtual cable, with libticables2's calculator end (sim/ticalc)
playing the PC on the other.

    program_test.py NATIVE_BUILD_DIR

The command keys arrive as their bytes and no other key sends anything; an
announcement shows wrapped with its accents mapped to the font; a malformed
one, a byte cut short and a wire pulled with no byte following show nothing
and leave the link working; [CLEAR] in every state passes the harness's exit
checks (lines released, OS state restored, stack balanced). Every wait is
for an event, with a limit.
"""
import contextlib
import fcntl
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts', 'lib'))
from njharness import native  # noqa: E402
from njharness.checks import eventually  # noqa: E402
from njharness.mpris import HELPER_LSAN  # noqa: E402
from njharness.native import LIMIT  # noqa: E402
from njharness.z80calc import EmulatedCalculator  # noqa: E402

if len(sys.argv) > 3 and sys.argv[1] == '--pc-end':
    PC_END = sys.argv[2:]  # a helper process on the PC's end: see pc_end()
    del sys.argv[1:]
else:
    PC_END = None
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
PROGRAM = os.path.join(BUILD or '', 'calculator', 'NIGHTJAR.8xp')
TIOCMBIS, TIOCMBIC, TIOCM_DTR, TIOCM_RTS = 0x5416, 0x5417, 0x002, 0x004


class Calculator(EmulatedCalculator):
    """The program on the cable's end 0, its first screen up; killed on leaving a `with`."""

    def __init__(self, cable, *args):
        super().__init__(BUILD, PROGRAM, cable.ends[0], *args)
        self.wait_for('nothing playing')

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(LIMIT)
        self.finish()

    def mark(self):
        return len(self.screens())

    def wait_for(self, text, since=0):
        self.wait_screen(text, since=since)

    def wait_for_row(self, row):
        """Until a screen has had `row` as one of its rows, exactly."""
        self.out.wait_for('\u2502%s\u2502' % row.ljust(16))


def windows_1252(text):
    return list(text.encode('cp1252'))


def announcement(artist, title):
    return windows_1252(artist) + [0] + windows_1252(title) + [0, 2]


class Program(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix='nj-calc-')
        native.in_cable_environment(BUILD, HELPER_LSAN)
        cls.cable = native.Cable(BUILD, cls.tmp.name)
        cls.wires = native.CableState(cls.cable)

    @classmethod
    def tearDownClass(cls):
        cls.wires.close()
        cls.cable.stop()
        cls.tmp.cleanup()

    def start(self, *args):
        return Calculator(self.cable, *args)

    def pc_start(self, *args):
        """libticables2's calculator end on the cable's end 1, playing the PC."""
        return subprocess.Popen([os.path.join(BUILD, 'sim/ticalc/ticalc'), '--timeout', '10', *args],
                                env=dict(os.environ, NJ_CABLE_REDIRECT='/dev/ttyS1=' + self.cable.ends[1]),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def pc(self, *args):
        pc = self.pc_start(*args)
        out, err = pc.communicate(timeout=LIMIT)
        self.assertEqual(pc.returncode, 0, 'ticalc %s: %s' % (args, err))
        return out.split()

    def assertLeftAsFound(self, calc):
        status = calc.finish()
        self.assertEqual(status, 0, calc.log.lines)
        calc.log.wait_for('left the calculator as it found it')

    def show(self, calc, artist, title, seen):
        mark = calc.mark()
        self.pc('send', *map(str, announcement(artist, title)))
        calc.wait_for(seen, since=mark)

    def key_reaches_pc(self, calc, key, byte):
        """The key's byte taken by the PC: the program is back at its keys."""
        pc = self.pc_start('recv', '1')
        calc.press(key)
        out, err = pc.communicate(timeout=LIMIT)
        self.assertEqual(out.split(), [byte], err)

    def test_command_keys_arrive_as_their_bytes_and_no_other_key_sends(self):
        with self.start() as calc:
            pc = self.pc_start('recv', '8')
            calc.press('y=', 'up', 'window', 'zoom', 'enter', 'trace', 'graph', 'down', 'left', 'right', 'mode', '2nd')
            out, err = pc.communicate(timeout=LIMIT)
            self.assertEqual(pc.returncode, 0, err)
            self.assertEqual(out.split(), ['53', '52', '51', '50', '49', '2', '3', '54'])
            self.assertLeftAsFound(calc)

    def test_announcements_show_wrapped_with_their_accents(self):
        for model in ('83p', '84p'):  # with and without link-assist hardware to turn off
            with self.subTest(model=model), self.start('--model', model) as calc:
                self.show(calc, 'Beyoncé', 'Ça dégèle à Noël, Zoë — €5', 'Beyoncé')
                calc.wait_for('Ça dégèle à Noël, Zoë ◾ ◾5')  # no glyph for — and €: the stand-in
                calc.wait_for_row('Ça dégèle à')  # wrapped at a space
                self.show(calc, '', '', 'nothing playing')
                self.show(calc, '', 'Only a title', 'Only a title')
                self.assertLeftAsFound(calc)

    def test_malformed_announcements_and_stray_wires_show_nothing_and_the_next_track_shows(self):
        with self.start() as calc:
            mark = calc.mark()
            bad = {
                'a control byte': announcement('Bad\x01Artist', 'Bad one'),
                'no end byte': windows_1252('Bad two') + [0, 0, 5],
                'too long to keep': announcement('Bad three ' * 80, 'x'),
            }
            for number, (what, data) in enumerate(bad.items()):
                with self.subTest(what):
                    self.pc('send', *map(str, data))
                    self.show(calc, 'Artist', 'Good %d' % number, 'Good %d' % number)
            with self.subTest('cut short'):
                self.pc('send', *map(str, windows_1252('Bad four') + [0]))
                self.key_reaches_pc(calc, 'zoom', '51')  # only once the program has given up on the rest
                self.show(calc, 'Artist', 'Good cut', 'Good cut')
            with self.subTest('three bits of a byte'):
                self.pc('bits', '5', '3')
                self.key_reaches_pc(calc, 'graph', '49')
                self.show(calc, 'Artist', 'Good bits', 'Good bits')
            with self.subTest('a wire held with no byte'):
                with self.wire_a_held():
                    # taken for a bit's start and answered, then given up within the bound
                    self.assertTrue(eventually(lambda: 'B' in self.wires_the_program_pulls(), LIMIT, 0.01))
                    self.assertTrue(eventually(lambda: not self.wires_the_program_pulls(), LIMIT, 0.01))
                self.key_reaches_pc(calc, 'trace', '50')
                self.show(calc, 'Artist', 'Good held', 'Good held')
            shown = '\n'.join(calc.screens()[mark:])
            self.assertNotIn('Bad', shown)
            self.assertLeftAsFound(calc)

    def wires_the_program_pulls(self):
        outputs = self.wires.outputs(0)  # a line not asserted is a wire pulled
        return ''.join(w for w, line in (('A', TIOCM_RTS), ('B', TIOCM_DTR)) if not outputs & line)

    @contextlib.contextmanager
    def wire_a_held(self):
        """Wire A pulled from the PC's end, and released again on leaving."""
        held = subprocess.Popen([sys.executable, __file__, '--pc-end', 'hold', self.cable.ends[1]],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(held.stdout.readline().strip(), 'pulled')
            yield
        finally:
            held.stdin.close()
            self.assertEqual(held.wait(LIMIT), 0)
            held.stdout.close()

    def test_a_key_at_the_instant_the_pc_begins_an_announcement(self):
        # The PC begins its announcement the moment the program pulls a wire
        # for [GRAPH] (49, 00110001b), on the other wire ('Î' is 49's
        # complement, so each bit could pass for the other's answer) or on
        # the same one. Neither side may take a byte that was not sent.
        for what, artist in (('the other wire', 'Île de Ré'), ('the same wire', 'Ambush')):
            with self.subTest(what), self.start() as calc:
                mark = calc.mark()
                pc = subprocess.Popen([sys.executable, __file__, '--pc-end', 'collide', self.cable.ends[1],
                                       *map(str, announcement(artist, 'Collided'))],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                self.assertEqual(pc.stdout.readline().strip(), 'ready')
                calc.press('graph')
                out, err = pc.communicate(timeout=LIMIT)
                self.assertEqual(pc.returncode, 0, err)
                # its bit 0 at most: the program let go as soon as the PC's line went away under its own
                self.assertLessEqual(int(out), 1, 'the program went on with a byte the PC never took')
                # (a program that missed the PC's short pulse holds its line to its own bound)
                self.assertTrue(eventually(lambda: not self.wires_the_program_pulls(), LIMIT, 0.01))
                self.key_reaches_pc(calc, 'zoom', '51')
                self.show(calc, 'Artist', 'Next track', 'Next track')
                self.assertNotIn('Collided', '\n'.join(calc.screens()[mark:]))
                self.assertLeftAsFound(calc)

    def test_clear_in_every_state_leaves_the_calculator_as_found(self):
        with self.subTest('at once'), self.start() as calc:
            self.assertLeftAsFound(calc)
        with self.subTest('after a key the PC never took'), self.start('--model', '84p') as calc:
            calc.press('graph')
            self.assertLeftAsFound(calc)
        with self.subTest('while the PC holds a wire'), self.start('--model', '83pse') as calc:
            with self.wire_a_held():
                calc.press('trace')
                self.assertLeftAsFound(calc)
        with self.subTest('with a track shown'), self.start() as calc:
            self.show(calc, 'Artist', 'Title', 'Title')
            self.assertLeftAsFound(calc)


class PcEnd:
    """The PC's end of the cable driven wire by wire, for what ticalc does
    not do. Runs in a process of its own, under the cable's preload library:
    a line asserted is a wire released; wire A is RTS/CTS, wire B DTR/DSR."""
    TIOCMGET, TIOCM_CTS, TIOCM_DSR = 0x5415, 0x020, 0x100
    DRIVE = {'A': TIOCM_RTS, 'B': TIOCM_DTR}
    READ = {'A': TIOCM_CTS, 'B': TIOCM_DSR}

    def __init__(self, end):
        self.fd = os.open(end, os.O_RDWR | os.O_NOCTTY)

    def close(self):
        self.drive('A', False)
        self.drive('B', False)
        os.close(self.fd)

    def drive(self, wire, pulled):
        request = TIOCMBIC if pulled else TIOCMBIS
        fcntl.ioctl(self.fd, request, struct.pack('i', self.DRIVE[wire]))

    def pulled(self, wire):
        lines = struct.unpack('i', fcntl.ioctl(self.fd, self.TIOCMGET, struct.pack('i', 0)))[0]
        return not lines & self.READ[wire]

    def await_wire(self, wire, pulled, seconds):
        deadline = time.monotonic() + seconds
        while self.pulled(wire) != pulled:
            if time.monotonic() > deadline:
                return False
        return True

    def send_bits(self, data):
        """Sends as the PC does, each answer awaited up to the PC's 1.5 s; the number of bits that got through."""
        sent = 0
        for byte in data:
            for i in range(8):
                mine, theirs = ('B', 'A') if byte >> i & 1 else ('A', 'B')
                self.drive(mine, True)
                if not self.await_wire(theirs, True, 1.5):
                    return sent
                self.drive(mine, False)
                if not self.await_wire(theirs, False, 1.5):
                    return sent
                sent += 1
        return sent


def pc_end(mode, end, *data):
    """hold: wire A pulled until standard input closes. collide: the
    announcement `data` begun the moment the program pulls a wire; prints
    how many bits got through."""
    pc = PcEnd(end)
    try:
        if mode == 'hold':
            pc.drive('A', True)
            print('pulled', flush=True)
            sys.stdin.read()
        else:
            print('ready', flush=True)
            deadline = time.monotonic() + LIMIT
            while not (pc.pulled('A') or pc.pulled('B')) and time.monotonic() < deadline:
                pass
            print(pc.send_bits([int(b) for b in data]), flush=True)
    finally:
        pc.close()


if __name__ == '__main__':
    if PC_END:
        pc_end(*PC_END)
    else:
        unittest.main(verbosity=2)
