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
if len(sys.argv) == 3 and sys.argv[1] == '--hold-wire-a':
    HOLD_END = sys.argv.pop(2)
    sys.argv.pop(1)
else:
    HOLD_END = None
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
        self.pc('send', *map(str, announcement(artist, title)))
        calc.wait_for(seen)

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
        held = subprocess.Popen([sys.executable, __file__, '--hold-wire-a', self.cable.ends[1]],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(held.stdout.readline().strip(), 'pulled')
            yield
        finally:
            held.stdin.close()
            self.assertEqual(held.wait(LIMIT), 0)
            held.stdout.close()

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


def hold_wire_a(end):
    """Runs in a process of its own, under the cable's preload library."""
    TIOCMBIS, TIOCMBIC, TIOCM_RTS = e2e_test.TIOCMBIS, e2e_test.TIOCMBIC, e2e_test.TIOCM_RTS
    fd = os.open(end, os.O_RDWR | os.O_NOCTTY)
    try:
        fcntl.ioctl(fd, TIOCMBIC, struct.pack('i', TIOCM_RTS))  # RTS off: wire A pulled
        print('pulled', flush=True)
        sys.stdin.read()
        fcntl.ioctl(fd, TIOCMBIS, struct.pack('i', TIOCM_RTS))
    finally:
        os.close(fd)


if __name__ == '__main__':
    if HOLD_END:
        hold_wire_a(HOLD_END)
    else:
        unittest.main(verbosity=2)
