"""Native programs on a virtual cable, no Wine: the cable itself (njcable),
and a process's output read line by line and waited for."""
import mmap
import os
import signal
import struct
import subprocess
import threading
import time

LIMIT = 30.0  # seconds any one event may take on a slow machine


class Lines:
    """A process's output, line by line, waited for."""

    def __init__(self, stream, limit=LIMIT):
        self.lines, self.cond, self.limit, self.ended = [], threading.Condition(), limit, False
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        try:
            for raw in stream:
                with self.cond:
                    self.lines.append(raw.decode('utf-8', 'replace').rstrip('\n'))
                    self.cond.notify_all()
        except ValueError:  # closed by its owner
            pass
        with self.cond:
            self.ended = True
            self.cond.notify_all()

    def wait_for(self, text, start=0):
        """Index of the first line from `start` on that holds `text`."""
        return self.wait_until(lambda line: text in line, start, repr(text))

    def wait_until(self, want, start=0, what='the line wanted'):
        """Index of the first line from `start` on for which want(line) holds."""
        deadline = time.monotonic() + self.limit
        with self.cond:
            while True:
                for i in range(start, len(self.lines)):
                    if want(self.lines[i]):
                        return i
                left = deadline - time.monotonic()
                if left <= 0 or self.ended:
                    raise AssertionError('no line with %s%s; got %r'
                                         % (what, ' before the output ended' if self.ended else '', self.lines[start:]))
                self.cond.wait(left)

    def count(self):
        with self.cond:
            return len(self.lines)


class Cable:
    """A virtual cable whose daemon ends with this process; NJ_CABLE_STATE
    is set for this process and its children. `device` is a name for the PC
    end that can vanish."""

    def __init__(self, build, tmp):
        self.njcable_path = os.path.join(build, 'sim/vcable/njcable')
        self.state = os.path.join(tmp, 'state')
        out = subprocess.run([self.njcable_path, '--daemon', '--parent', str(os.getpid()), self.state],
                             check=True, capture_output=True, text=True).stdout.split()
        self.ends, self.pid = out[:2], int(out[2])
        os.environ['NJ_CABLE_STATE'] = self.state
        self.device = os.path.join(tmp, 'ttyCALC')
        os.symlink(self.ends[0], self.device)

    def njcable(self, *args):
        subprocess.run([self.njcable_path, *args, self.state], check=True)

    def stop(self):
        os.kill(self.pid, signal.SIGTERM)


def in_cable_environment(build, lsan_suppressions):
    """This process's environment as the native programs on a cable want it."""
    os.environ['LD_PRELOAD'] = os.path.join(build, 'sim/vcable/lib/x86_64-linux-gnu/libnjcable.so')
    os.environ['ASAN_OPTIONS'] = 'verify_asan_link_order=0'
    # GLib keeps type data and singletons for the life of the process.
    os.environ['LSAN_OPTIONS'] = 'suppressions=' + lsan_suppressions


class CableState:
    """The cable's shared state (sim/vcable/cable_state.h) read in place:
    the count of line changes and what each end drives, for a test that must
    act at an exact point of a byte."""
    END, END_SIZE, OUTPUTS, UNPLUGGED, CHANGES = 12, 80, 8, 76, 172
    RELEASED = 0x006  # TIOCM_RTS | TIOCM_DTR: both wires let go

    def __init__(self, cable):
        self.cable = cable
        self.file = open(cable.state, 'r+b')
        self.map = mmap.mmap(self.file.fileno(), self.CHANGES + 8)

    def changes(self):
        return struct.unpack_from('<I', self.map, self.CHANGES)[0]

    def outputs(self, end):
        return struct.unpack_from('<I', self.map, self.END + end * self.END_SIZE + self.OUTPUTS)[0]

    def unplug_now(self, end):
        """Unplugs `end` at once: the flag is set in place, so that an end
        that polls sees it within microseconds, then by njcable, which
        also wakes those that wait."""
        struct.pack_into('<I', self.map, self.END + end * self.END_SIZE + self.UNPLUGGED, 1)
        self.cable.njcable('--unplug', str(end))

    def after_changes(self, count, action):
        """Runs `action` on a thread of its own as soon as the lines have
        changed `count` times from now (spinning: a byte's bits are
        microseconds apart); returns the thread."""
        start = self.changes()

        def watch():
            deadline = time.monotonic() + LIMIT
            while self.changes() - start < count and time.monotonic() < deadline:
                pass
            action()
        thread = threading.Thread(target=watch, daemon=True)
        thread.start()
        return thread

    def close(self):
        self.map.close()
        self.file.close()
