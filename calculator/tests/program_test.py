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
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
if len(sys.argv) > 3 and sys.argv[1] == '--pc-end':
    PC_END = sys.argv[2:]  # a helper process on the PC's end: see pc_end()
    del sys.argv[1:]
else:
    PC_END = None
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
sys.path.insert(0, os.path.join(HERE, '..', '..', 'linux', 'tests'))
import e2e_test  # noqa: E402  (the cable and the ticalc end, as the native end-to-end test lays them)

e2e_test.BUILD = BUILD
LIMIT = e2e_test.LIMIT
PROGRAM = os.path.join(BUILD or '', 'calculator', 'NIGHTJAR.8xp')
TOP, BOTTOM = '┌', '└'


class Calculator:
    """z80calc running the program on the cable's end 0; keys go in on
    standard input, each screen it prints is kept."""

    def __init__(self, cable, *args):
        self.proc = subprocess.Popen([os.path.join(BUILD, 'sim/z80calc/z80calc'), '--device', cable.ends[0], *args,
                                      PROGRAM], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.screens, self.cond = [], threading.Condition()
        threading.Thread(target=self._read_screens, daemon=True).start()
        self.wait_for('nothing playing')

    def _read_screens(self):
        rows = None
        for line in self.proc.stdout:
            line = line.rstrip('\n')
            if line.startswith(TOP):
                rows = []
            elif line.startswith(BOTTOM) and rows is not None:
                with self.cond:
                    self.screens.append(rows)
                    self.cond.notify_all()
                rows = None
            elif rows is not None:
                rows.append(line[1:-1])

    def mark(self):
        with self.cond:
            return len(self.screens)

    def shown_since(self, mark):
        """Every screen since `mark`, each as its rows run together."""
        with self.cond:
            return [''.join(rows) for rows in self.screens[mark:]]

    def wait_for(self, text, since=0):
        deadline = time.monotonic() + LIMIT
        with self.cond:
            while not any(text in ''.join(rows) for rows in self.screens[since:]):
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError('%r never shown; last screen %r' % (text, self.screens[-1:]))
                self.cond.wait(min(left, 0.5))

    def press(self, *keys):
        self.proc.stdin.write(''.join(k + '\n' for k in keys))
        self.proc.stdin.flush()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(LIMIT)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()

    def clear(self):
        """[CLEAR]: the status and what the harness said of the state left."""
        self.press('clear')
        self.proc.stdin.close()
        status = self.proc.wait(LIMIT)
        return status, self.proc.stderr.read()


def windows_1252(text):
    return list(text.encode('cp1252'))


def announcement(artist, title):
    return windows_1252(artist) + [0] + windows_1252(title) + [0, 2]


class Program(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix='nj-calc-')
        e2e_test.in_cable_environment()
        cls.cable = e2e_test.Cable(cls.tmp.name)

    @classmethod
    def tearDownClass(cls):
        cls.cable.stop()
        cls.tmp.cleanup()

    def start(self, *args):
        return Calculator(self.cable, *args)

    def pc(self, *args):
        return e2e_test.ticalc(self.cable, *args)

    def pc_start(self, *args):
        command, env = e2e_test.ticalc_command(self.cable, *args)
        return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def assertLeftAsFound(self, calc):
        status, said = calc.clear()
        self.assertEqual(status, 0, said)
        self.assertIn('left the calculator as it found it', said)

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
                calc.wait_for('Ça dégèle à     Noël, Zoë ◾ ◾5')  # wrapped at a space; no glyph: the stand-in
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
                    self.assertTrue(e2e_test.eventually(lambda: 'B' in self.wires_the_program_pulls(), LIMIT, 0.01))
                    self.assertTrue(e2e_test.eventually(lambda: not self.wires_the_program_pulls(), LIMIT, 0.01))
                self.key_reaches_pc(calc, 'trace', '50')
                self.show(calc, 'Artist', 'Good held', 'Good held')
            shown = '\n'.join(calc.shown_since(mark))
            self.assertNotIn('Bad', shown)
            self.assertLeftAsFound(calc)

    def wires_the_program_pulls(self):
        shown = subprocess.run([os.path.join(BUILD, 'sim/vcable/njcable'), '--show', self.cable.state],
                               capture_output=True, text=True, check=True, timeout=LIMIT).stdout
        end = next(line for line in shown.splitlines() if line.startswith('end 0 '))
        return ''.join(w for w in 'AB' if f'{w} pulled' in end)

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
                self.assertTrue(e2e_test.eventually(lambda: not self.wires_the_program_pulls(), LIMIT, 0.01))
                self.key_reaches_pc(calc, 'zoom', '51')
                self.show(calc, 'Artist', 'Next track', 'Next track')
                self.assertNotIn('Collided', '\n'.join(calc.shown_since(mark)))
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
    DRIVE = {'A': e2e_test.TIOCM_RTS, 'B': e2e_test.TIOCM_DTR}
    READ = {'A': TIOCM_CTS, 'B': TIOCM_DSR}

    def __init__(self, end):
        self.fd = os.open(end, os.O_RDWR | os.O_NOCTTY)

    def close(self):
        self.drive('A', False)
        self.drive('B', False)
        os.close(self.fd)

    def drive(self, wire, pulled):
        request = e2e_test.TIOCMBIC if pulled else e2e_test.TIOCMBIS
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
