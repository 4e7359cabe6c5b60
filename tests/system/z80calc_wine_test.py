#!/usr/bin/env python3
"""The calculator's own program (NIGHTJAR.8xp) in the emulated TI-83 Plus
(sim/z80calc, native) on COM2's end of the virtual cable, the real
Nightjar.exe on COM1 under Wine, plavoxsim.exe as the player.

    z80calc_wine_test.py BUILD_WIN_DIR [TEST ...]   run the tests (all by default)

Every key reaches the player as its command (2nd shows and hides Nightjar's
window); each new track shows on the calculator's screen. Every wait is
bounded.
"""
import contextlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts', 'lib'))

from njharness import Rig, eventually, expect, run_tests, track_of  # noqa: E402
from njharness import player_window as pw  # noqa: E402
from njharness.native import LIMIT  # noqa: E402
from njharness.system import PLAYER_COMMANDS  # noqa: E402
from njharness.z80calc import EmulatedCalculator  # noqa: E402

KEYS = [('window', pw.PLAY), ('zoom', pw.PAUSE), ('right', pw.SKIP_FORWARD), ('left', pw.SKIP_BACK),
        ('trace', pw.STOP), ('graph', pw.NEXT), ('y=', pw.PREVIOUS)]


@contextlib.contextmanager
def started(build):
    """Nightjar, the player and the emulated calculator, the first track on its screen."""
    with Rig(build) as rig:
        native = rig.env['NJ_NATIVE_DIR']
        program = os.path.join(native, 'calculator', 'NIGHTJAR.8xp')
        expect(os.path.exists(program), f'{program} was not built')
        calc = EmulatedCalculator(native, program, rig.cable_end(1),
                                  env=dict(rig.env, ASAN_OPTIONS='verify_asan_link_order=0'))
        try:
            calc.wait_screen('nothing playing')
            rig.start_player('--play')
            rig.run_nightjar()
            calc.wait_screen('The Lantern Moths', 'Cold Harbour')
            yield rig, calc
            expect(calc.finish() == 0, 'the program did not leave the calculator as it found it: %s'
                   % calc.log.lines[-3:])
        finally:
            if calc.proc.poll() is None:
                calc.proc.kill()
                calc.proc.wait()


def commands_since(rig, count):
    return [c for c in rig.player_commands()[count:] if c.startswith('WM_COMMAND')]


def test_every_key_reaches_the_player_as_its_command(build):
    with started(build) as (rig, calc):
        for key, command in KEYS:
            count = len(rig.player_commands())
            calc.press(key)
            got = eventually(lambda c=count: commands_since(rig, c), LIMIT, 0.05)
            expect(got == [pw.command_line(command)],
                   f'{key}: the player got {got}, wanted {PLAYER_COMMANDS[str(command)]}')
        # 2nd hides Nightjar's window and shows it again.
        for want in ('visible=0 iconic=0', 'visible=1 iconic=0'):
            calc.press('2nd')
            expect(eventually(lambda w=want: rig.state() == w, LIMIT), f'2nd: {rig.state()}, wanted {want}')


def test_each_new_track_shows_on_the_calculator(build):
    with started(build) as (rig, calc):
        for _ in range(2):
            shown, before = len(calc.screens()), rig.player_title()
            rig.player('--send', str(pw.NEXT))
            expect(eventually(lambda b=before: rig.player_title() != b, LIMIT), 'the player did not move on')
            calc.wait_screen(*track_of(rig.player_title()), since=shown)


if __name__ == '__main__':
    sys.exit(run_tests(globals(), sys.argv[1], sys.argv[2:]))
