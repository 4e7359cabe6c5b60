#!/usr/bin/env python3
"""Drives the real Nightjar.exe under Wine: a virtual cable with COM1 (or the
port under test) at Nightjar's end and COM2 at the calculator's, linkcat.exe
as the calculator, plavoxsim.exe as the media player, njprobe.exe to find,
click, minimise and close windows.

    nightjar_e2e.py BUILD_DIR [TEST ...]      run the tests (all by default)
    nightjar_e2e.py BUILD_DIR --screenshots DIR

Every step has a deadline; each test ends with the prefix's wineserver
killed and the cable taken down, so nothing outlives it.
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts', 'lib'))

from njharness import FIRST, Rig, announcement, eventually, expect, run_tests, track_of  # noqa: E402
from njharness import player_window as pw  # noqa: E402


# ---- tests ----------------------------------------------------------------

def test_each_port_button_opens_its_own_port(build):
    for port in (1, 2, 3, 4):
        with Rig(build, nightjar_port=port) as rig:
            rig.start_nightjar()
            rig.choose_port(port)
            expect(rig.probe('wait', 'Nightjar', '20', check=False) == '', f'port {port}: no main window')
            expect(rig.probe('gone', 'Set Link Port:', '30', check=False) == '', 'the chooser stayed open')
            # The calculator end can talk to Nightjar only over the port it opened.
            r = rig.calculator('send', '54', timeout=10)
            expect(r.returncode == 0, f'port {port}: the byte did not get through: {r.stderr}')
            expect(eventually(lambda: rig.state() == 'visible=0 iconic=0', 30), f'port {port}: byte 54 not acted on')


def test_a_port_that_cannot_be_opened_ends_with_one_message(build):
    with Rig(build, cable=False) as rig:
        rig.start_nightjar()
        rig.choose_port(3)  # no device behind COM3 in this prefix
        expect(rig.probe('wait', 'Error', '20', check=False) == '', 'no message box')
        expect(rig.probe('dialog', 'Error') == 'Error opening port!', 'wrong message')
        expect('visible=1' not in rig.probe('state', 'Nightjar', check=False), 'the main window was shown')
        expect(rig.probe('tray') != 'shown', 'the tray icon is up')
        expect(rig.probe('state', 'Set Link Port:', check=False) == '', 'the chooser came back')
        rig.probe('dialog-ok', 'Error')
        expect(rig.wait_exit(15), 'the program did not end after the message')


def test_closing_the_chooser_ends_the_program(build):
    with Rig(build, cable=False) as rig:
        rig.start_nightjar()
        rig.probe('close', 'Set Link Port:')
        expect(rig.wait_exit(15), 'the program is still running')


def start_running(rig):
    rig.start_player()
    rig.run_nightjar()
    expect(eventually(lambda: rig.probe('tray') == 'shown', 10), 'no tray icon')


def test_each_command_byte_reaches_the_player_and_others_do_nothing(build):
    with Rig(build) as rig:
        start_running(rig)
        expect(rig.receive(len(FIRST), timeout=15) == FIRST, 'wrong start-up announcement')
        before = len(rig.player_commands())
        # Next and Prev change the track and Nightjar announces it; a send
        # running into that announcement would find both ends talking, so
        # each of them ends a send and its announcement is taken first.
        # The unknown bytes go before a last Pause: once that Pause is in the
        # log, whatever the unknown bytes did is in it too.
        for values in (('2', '3', '49'), ('50', '51', '52', '53'), ('0', '1', '55', '255', '51')):
            title = rig.player_title()
            r = rig.calculator('send', *values)
            expect(r.returncode == 0, f'send {values} failed: {r.stderr}')
            if values[-1] in ('49', '53'):
                take_announcement(rig, title)
        want = [pw.command_line(c) for c in (pw.SKIP_BACK, pw.SKIP_FORWARD, pw.NEXT, pw.STOP, pw.PAUSE, pw.PLAY,
                                             pw.PREVIOUS, pw.PAUSE)]

        def commands():
            return [c for c in rig.player_commands()[before:] if c.startswith('WM_COMMAND')]
        got = eventually(lambda: len(commands()) >= len(want) and commands(), 30) or commands()
        expect(got == want, f'player got {got}')
        expect(rig.state() == 'visible=1 iconic=0', 'unknown bytes changed the window')


def take_announcement(rig, old_title):
    """Receives the announcement of the player's title once it is no longer `old_title`."""
    title = eventually(lambda: (t := rig.player_title()) != old_title and t, 10)
    expect(title, f'the player still shows {old_title!r}')
    want = announcement(*track_of(title))
    expect(rig.receive(len(want), timeout=15) == want, f'wrong announcement for {title!r}')


def test_a_new_title_is_announced_once_with_the_right_bytes(build):
    with Rig(build) as rig:
        start_running(rig)
        expect(rig.receive(len(FIRST), timeout=15) == FIRST, 'wrong start-up announcement')
        title = rig.player_title()
        rig.player('--send', str(pw.NEXT))  # the player moves on by itself
        take_announcement(rig, title)
        # A second announcement of the same title would reach the calculator
        # before the next track's.
        title = rig.player_title()
        rig.player('--send', str(pw.NEXT))
        take_announcement(rig, title)


def test_window_states_follow_minimise_tray_and_byte_54(build):
    with Rig(build) as rig:
        start_running(rig)
        rig.receive(len(FIRST), timeout=15)
        steps = [
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=0'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.probe('minimize', 'Nightjar'), 'visible=0 iconic=1'),
            (lambda: rig.calculator('send', '54'), 'visible=1 iconic=1'),
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=1'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.probe('tray-click'), 'visible=1 iconic=0'),
            (lambda: rig.calculator('send', '54'), 'visible=0 iconic=0'),
            (lambda: rig.calculator('send', '54'), 'visible=1 iconic=0'),
        ]
        for i, (act, want) in enumerate(steps):
            act()
            expect(eventually(lambda: rig.state() == want, 30), f'step {i}: {rig.state()}, wanted {want}')


def test_a_close_request_ends_the_program_and_takes_the_icon_away(build):
    with Rig(build) as rig:
        start_running(rig)
        rig.receive(len(FIRST), timeout=15)
        rig.probe('close', 'Nightjar')
        expect(rig.wait_exit(60), 'still running 60 s after the close request')
        expect(rig.probe('dialog', 'Error', check=False) == '', 'an error was shown')


def test_a_close_request_during_a_transfer_ends_the_program(build):
    with Rig(build) as rig:
        start_running(rig)  # the announcement waits for a calculator that does not listen
        # Nightjar holds a wire pulled only inside a transfer.
        expect(eventually(lambda: rig.wires_driven_by_nightjar(), 60), 'no transfer started')
        rig.probe('close', 'Nightjar')
        deadline = time.time() + 60
        while time.time() < deadline and rig.nightjar.poll() is None:
            if rig.probe('dialog', 'Error', check=False) == 'Error opening port!':
                rig.probe('dialog-ok', 'Error')  # the port went away under the transfer
            time.sleep(0.3)
        expect(rig.nightjar.poll() is not None, 'still running 60 s after the close request')


def screenshot(rig, title, path):
    rig.capture(rig.probe('rect', title).split(), path)


def take_screenshots(build, folder):
    os.makedirs(folder, exist_ok=True)
    with Rig(build) as rig:
        rig.start_nightjar()
        time.sleep(1)
        screenshot(rig, 'Set Link Port:', os.path.join(folder, 'frmSetPort.png'))
        rig.choose_port(1)
        rig.probe('wait', 'Nightjar', '20')
        rig.probe('move', 'Wine System Tray', '900', '600', check=False)  # Wine's stand-in tray sits on top
        time.sleep(1)
        screenshot(rig, 'Nightjar', os.path.join(folder, 'frmMain.png'))


def main():
    build = os.path.abspath(sys.argv[1])
    if sys.argv[2:3] == ['--screenshots']:
        take_screenshots(build, sys.argv[3])
        return 0
    return run_tests(globals(), build, sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
