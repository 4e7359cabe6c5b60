"""The calculator's own program in the emulated TI-83 Plus (sim/z80calc) on
a cable end: its screens as text, its timed events, keys pressed as script
steps on its standard input."""
import os
import re
import subprocess

from .native import LIMIT, Lines

TOP_LEFT, BOTTOM_LEFT, SIDE = '\u250c', '\u2514', '\u2502'


def one_space(text):
    """Runs of spaces as one: a line the program wraps at a space reads whole."""
    return re.sub(' +', ' ', text)


def screens_of(lines):
    """The screens in z80calc's output lines: each the text of its rows run
    together (16 x 8 characters) with runs of spaces as one, as its key
    scripts see it."""
    screens, rows = [], None
    for line in lines:
        if line.startswith(TOP_LEFT):
            rows = []
        elif line.startswith(BOTTOM_LEFT) and rows is not None:
            screens.append(one_space(''.join(rows)))
            rows = None
        elif rows is not None and line.startswith(SIDE):
            rows.append(line[1:-1])
    return screens


def event_time(line):
    """The Unix time of a `z80calc: <time> what` line."""
    return float(line.split()[1])


class EmulatedCalculator:
    """z80calc running PROGRAM on cable end END, with --events."""

    def __init__(self, build, program, end, *args, env=None):
        self.proc = subprocess.Popen([os.path.join(build, 'sim/z80calc/z80calc'), '--events', '--device', end, *args,
                                      program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.out = Lines(self.proc.stdout)
        self.log = Lines(self.proc.stderr)

    def press(self, *steps):
        """Script steps: key names, or `wait TEXT`."""
        self.proc.stdin.write(''.join(step + '\n' for step in steps).encode())
        self.proc.stdin.flush()

    def screens(self):
        with self.out.cond:
            return screens_of(self.out.lines)

    def screen(self):
        shown = self.screens()
        return shown[-1] if shown else ''

    def wait_screen(self, *texts, since=0):
        """The first screen from number `since` on that holds every one of
        `texts`, and its number."""
        start = 0
        while True:
            self.out.wait_until(lambda line: line.startswith(BOTTOM_LEFT), start, 'a screen')
            shown = self.screens()
            for number in range(since, len(shown)):
                if all(one_space(text) in shown[number] for text in texts):
                    return shown[number], number
            start = self.out.count()
            if self.proc.poll() is not None:
                raise AssertionError('z80calc ended; its screens: %r' % shown[since:])

    def wait_event(self, text, start=0):
        """The line and index of the first event from `start` on that holds `text`."""
        index = self.log.wait_for(text, start)
        return self.log.lines[index], index

    def finish(self):
        """CLEAR ends the program; z80calc's exit status (0: it left the
        calculator as it found it). Again: the same status."""
        if self.proc.poll() is None and not self.proc.stdin.closed:
            self.press('clear')
            self.proc.stdin.close()
        try:
            return self.proc.wait(LIMIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return -1
        finally:
            self.proc.stdout.close()
            self.proc.stderr.close()
            if not self.proc.stdin.closed:
                self.proc.stdin.close()
