#!/usr/bin/env python3
"""Reliability under Wine with the real programs: the tray icon clicked with
the X pointer, a close request in every state the program can be in, and the
calculator end built on libticables2 (sim/ticalc, native) talking to our
link and to Nightjar.

    reliability_e2e.py BUILD_DIR [TEST ...]          run the tests (all by default)
    reliability_e2e.py BUILD_DIR --tray-shot FILE    screenshot of the tray with the icon
"""
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(TOP, 'scripts', 'lib'))
from njharness import FIRST, RELTOOL, Rig, eventually, expect, run_tests  # noqa: E402
from njharness.ticalc import TiCalc  # noqa: E402
from njharness import player_window as pw  # noqa: E402

CLOSE_LIMIT = 1.0  # seconds from the close request to the end of the process


def reltool(rig, *args, check=True):
    return rig.wine(rig.exe(*RELTOOL), *args, check=check)


def running(rig):
    """The player up, Nightjar on COM1 with its tray icon, the first announcement taken."""
    rig.start_player()
    rig.start_nightjar()
    rig.choose_port(rig.nightjar_port)
    expect(rig.probe('wait', 'Nightjar', '20', check=False) == '', 'no main window')
    expect(eventually(lambda: rig.probe('tray') == 'shown', 10), 'no tray icon')
    calc = TiCalc(rig)
    expect(calc.receive(len(FIRST)) == FIRST, 'wrong start-up announcement')
    return calc


# ---- the libticables2 end beside our own -------------------------------------

def linkcat(rig, *args, timeout=60):
    """Nightjar's own link, in linkcat, on Nightjar's end of the cable."""
    return rig.wine(rig.exe('sim', 'linkcat', 'linkcat.exe'), '--timeout', str(timeout), str(rig.nightjar_port),
                    *args, timeout=timeout + 30, check=False)


def test_our_link_and_libticables_agree_on_every_byte_value_both_ways(build):
    with Rig(build) as rig:
        calc = TiCalc(rig)
        every = [str(v) for v in range(256)]
        receiver = calc.start('recv', '256', timeout=60)
        r = linkcat(rig, 'send', *every)
        out, err = receiver.communicate(timeout=120)
        expect(r.returncode == 0, f'linkcat could not send: {r.stderr.strip()}')
        expect(out.split() == every, f'libticables received {out.split()[:8]}...: {err.strip()}')

        sender = calc.start('send', *every, timeout=60)
        r = linkcat(rig, 'recv', '256')
        sender.wait(timeout=120)
        expect(sender.returncode == 0, f'libticables could not send: {sender.stderr.read().strip()}')
        expect(r.stdout.split() == every, f'linkcat received {r.stdout.split()[:8]}...: {r.stderr.strip()}')


def test_nightjar_announces_to_and_takes_a_command_from_the_libticables_end(build):
    with Rig(build) as rig:
        calc = running(rig)  # the announcement already came through libticables
        before = len(rig.player_commands())
        calc.send(52)
        expect(eventually(lambda: pw.command_line(pw.PLAY) in rig.player_commands()[before:], 5),
               'the PlayTrack command did not reach the player')


# ---- a close request in every state ------------------------------------------

class ExitWatch:
    """Notes the moment the Nightjar process ends."""

    def __init__(self, rig):
        self.ended_at = None
        self.rig = rig
        threading.Thread(target=self._wait, daemon=True).start()

    def _wait(self):
        self.rig.nightjar.wait()
        self.ended_at = time.time()

    def seconds_after(self, moment, limit=10):
        eventually(lambda: self.ended_at is not None, limit, 0.01)
        return None if self.ended_at is None else self.ended_at - moment


def request_close(rig):
    return float(reltool(rig, 'close', 'Nightjar').stdout)


def expect_quiet_end_within_limit(rig, what):
    watch = ExitWatch(rig)
    asked = request_close(rig)
    took = watch.seconds_after(asked)
    expect(took is not None, f'{what}: still running 10 s after the close request')
    expect(took <= CLOSE_LIMIT, f'{what}: the process ended {took:.2f} s after the close request')
    expect(rig.probe('dialog', 'Error', check=False) == '', f'{what}: an error was shown')
    return took


def test_close_when_idle(build):
    with Rig(build) as rig:
        running(rig)
        took = expect_quiet_end_within_limit(rig, 'idle')
        print(f'  idle: ended {took:.3f} s after the request')


def test_close_when_hidden_by_byte_54(build):
    with Rig(build) as rig:
        calc = running(rig)
        calc.send(54)
        expect(eventually(lambda: rig.state() == 'visible=0 iconic=0', 5), 'byte 54 did not hide the window')
        took = expect_quiet_end_within_limit(rig, 'hidden')
        print(f'  hidden by byte 54: ended {took:.3f} s after the request')


def test_close_when_minimised(build):
    with Rig(build) as rig:
        running(rig)
        rig.probe('minimize', 'Nightjar')
        expect(eventually(lambda: rig.state() == 'visible=0 iconic=1', 5), 'minimising did not hide the window')
        took = expect_quiet_end_within_limit(rig, 'minimised')
        print(f'  minimised: ended {took:.3f} s after the request')


def test_close_with_the_player_gone(build):
    with Rig(build) as rig:
        calc = running(rig)
        rig.wine(rig.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--close')
        expect(eventually(lambda: rig.probe('title-of', pw.WINDOW_CLASS, check=False) == '', 10), 'the player stayed')
        # The emptied record is announced once the player has gone.
        expect(calc.receive(3) == [0, 0, 2], 'no empty announcement after the player went')
        took = expect_quiet_end_within_limit(rig, 'player gone')
        print(f'  player gone: ended {took:.3f} s after the request')


def error_box():
    return subprocess.run(['xdotool', 'search', '--name', '^Error$'], capture_output=True, text=True).stdout.strip()


def close_under_a_transfer(rig):
    """Asks for the close while a link wait is polling. The port goes away
    under the wait; the program then ends either quietly or through "Error
    opening port!", which is dismissed here. Returns how it ended, the
    seconds to the end or the message, and the seconds from OK to the end."""
    watch = ExitWatch(rig)
    asked = request_close(rig)
    eventually(lambda: watch.ended_at is not None or error_box(), 10, 0.01)
    if watch.ended_at is not None:
        return 'quiet', watch.ended_at - asked, 0.0
    shown = time.time() - asked
    expect(error_box(), 'still running 10 s after the close request')
    expect(rig.probe('dialog', 'Error') == 'Error opening port!', 'wrong message')
    expect(watch.ended_at is None, 'the process ended before the message was dismissed')
    dismissed = time.time()
    rig.probe('dialog-ok', 'Error')
    after_ok = watch.seconds_after(dismissed)
    expect(after_ok is not None, 'still running after the message was dismissed')
    expect(after_ok <= CLOSE_LIMIT, f'the process ended {after_ok:.2f} s after the message was dismissed')
    return 'message', shown, after_ok


def test_close_while_receiving_from_a_calculator_stopped_mid_byte(build):
    with Rig(build) as rig:
        calc = running(rig)
        r = calc.run('bits', '49', '4')  # four bits of a command, then nothing
        expect(r.returncode == 0, f'ticalc could not send the bits: {r.stderr.strip()}')
        how, took, after_ok = close_under_a_transfer(rig)
        expect(took <= CLOSE_LIMIT, f'mid-byte: {how} {took:.2f} s after the close request')
        print(f'  receiving, calculator stopped mid-byte: {how} after {took:.3f} s (+{after_ok:.3f} s after OK)')


def test_close_while_announcing_to_a_calculator_that_stopped_acknowledging(build):
    with Rig(build) as rig:
        calc = running(rig)
        # The next track's announcement: the calculator takes three bytes, then stops answering.
        rig.wine(rig.exe('sim', 'plavoxsim', 'plavoxsim.exe'), '--send', str(pw.NEXT))
        expect(len(calc.receive(3)) == 3, 'the announcement did not start')
        how, took, after_ok = close_under_a_transfer(rig)
        expect(how == 'message', 'the send wait ended quietly on a closed port')
        expect(took <= CLOSE_LIMIT, f'the message came {took:.2f} s after the close request')
        print(f'  announcing, calculator silent: message after {took:.3f} s, ended {after_ok:.3f} s after OK')


# ---- the tray, clicked with the pointer --------------------------------------

def tray_window():
    """Geometry of Wine's stand-in tray window, or None."""
    ids = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Wine System Tray$'], capture_output=True,
                         text=True).stdout.split()
    if not ids:
        return None
    out = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', ids[0]], capture_output=True, text=True).stdout
    g = dict(line.split('=', 1) for line in out.split())
    return {k: int(g[k]) for k in ('X', 'Y', 'WIDTH', 'HEIGHT')}


def click_tray_icon():
    # Wine draws the tray's caption itself; the icons sit in a row below it,
    # the first one in the bottom-left corner.
    g = tray_window()
    expect(g is not None, 'no Wine System Tray window')
    x, y = g['X'] + 12, g['Y'] + g['HEIGHT'] - 13
    subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'click', '1'], check=True, timeout=10)


def test_a_pointer_click_on_the_tray_icon_brings_the_window_back(build):
    with Rig(build) as rig:
        calc = running(rig)
        rig.probe('minimize', 'Nightjar')
        expect(eventually(lambda: rig.state() == 'visible=0 iconic=1', 5), 'minimising did not hide the window')
        click_tray_icon()
        expect(eventually(lambda: rig.state() == 'visible=1 iconic=0', 5),
               f'the click did not restore the window: {rig.state()}')
        calc.send(54)
        expect(eventually(lambda: rig.state() == 'visible=0 iconic=0', 5), 'byte 54 did not hide the window')
        click_tray_icon()
        expect(eventually(lambda: rig.state() == 'visible=1 iconic=0', 5),
               f'the click did not show the hidden window: {rig.state()}')


def test_the_icon_comes_back_when_a_tray_host_announces_itself(build):
    with Rig(build) as rig:
        running(rig)
        reltool(rig, 'forget-icon')
        expect(eventually(lambda: tray_window() is None, 5), 'the tray kept the icon it was told to forget')
        reltool(rig, 'taskbar-created')
        expect(eventually(lambda: tray_window() is not None, 5), 'the icon did not come back on TaskbarCreated')
        rig.probe('minimize', 'Nightjar')
        expect(eventually(lambda: rig.state() == 'visible=0 iconic=1', 5), 'minimising did not hide the window')
        click_tray_icon()
        expect(eventually(lambda: rig.state() == 'visible=1 iconic=0', 5), 'the icon put back does not work')


def tray_shot(build, path):
    with Rig(build) as rig:
        running(rig)
        time.sleep(1)
        g = tray_window()
        expect(g is not None, 'no Wine System Tray window')
        rig.capture((g['X'], g['Y'], g['WIDTH'], g['HEIGHT']), path)


def main():
    build = os.path.abspath(sys.argv[1])
    if sys.argv[2:3] == ['--tray-shot']:
        tray_shot(build, sys.argv[3])
        return 0
    return run_tests(globals(), build, sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
