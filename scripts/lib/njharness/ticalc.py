"""The calculator end built on libticables2 (sim/ticalc, native), on the
calculator's end of a rig's cable."""
import os
import subprocess

from .checks import expect


class TiCalc:
    """The libticables2 calculator end on the rig's calculator port."""

    def __init__(self, rig):
        native = rig.env['NJ_NATIVE_DIR']
        pty = rig.cable_end(1)
        self.env = dict(rig.env, NJ_CABLE_REDIRECT=f'/dev/ttyS1={pty}')
        self.exe = os.path.join(native, 'sim', 'ticalc', 'ticalc')

    def run(self, *args, timeout=10):
        return subprocess.run([self.exe, '--timeout', str(timeout), *args], env=self.env, capture_output=True,
                              text=True, timeout=timeout * 4 + 30)

    def start(self, *args, timeout=10):
        return subprocess.Popen([self.exe, '--timeout', str(timeout), *args], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    def receive(self, count, timeout=15):
        r = self.run('recv', str(count), timeout=timeout)
        expect(r.returncode == 0, f'ticalc received nothing: {r.stderr.strip()}')
        return [int(b) for b in r.stdout.split()]

    def send(self, *values):
        r = self.run('send', *map(str, values))
        expect(r.returncode == 0, f'ticalc could not send: {r.stderr.strip()}')
