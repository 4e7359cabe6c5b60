"""The scripted session of `./run --demo` and the interactive one of `./run`."""
from . import player_window as pw
from .checks import eventually, expect
from .rig import MAIN, Rig
from .wine import NIGHTJAR
from .system import System


def announced(line):
    return line[len('calc: now playing: '):] if line else None


def demo(build, screenshot=None, windows='unmanaged'):
    with System(build, verbose=True, windows=windows) as s:
        s.start_all()
        s.arrange_running()
        first = s.wait_calc_line('calc: now playing:', 0, 30)
        expect(first is not None, 'the calculator never showed a track')

        s.say('== keys on the calculator: Play, Pause, Play')
        for caption in ('Play', 'Pause', 'Play'):
            count = len(s.player_commands())
            s.press(caption)
            expect(eventually(lambda c=count: s.commands_since(c), 30), f'{caption} never reached the player')

        s.say('== Next on the calculator: the player moves on and Nightjar announces the new track')
        before = len(s.calc_lines())
        s.press('Next >>|')
        second = s.wait_calc_line('calc: now playing:', before, 30)
        expect(second is not None and second != first, 'the new track never reached the calculator')

        s.say('== the player changes track by itself')
        before = len(s.calc_lines())
        s.player('--send', str(pw.NEXT))
        third = s.wait_calc_line('calc: now playing:', before, 30)
        expect(third is not None, 'the player\'s own track change never reached the calculator')

        s.say('== Show/Hide on the calculator hides and shows Nightjar')
        for want in ('visible=0', 'visible=1'):
            s.press('Show/Hide')
            expect(eventually(lambda w=want: s.state().startswith(w), 10), f'Nightjar is not {want}')
            s.say(f'nightjar: {s.state()}')

        if screenshot:
            s.screenshot(screenshot)
            s.say(f'== screenshot saved: {screenshot}')

        s.say('== Nightjar is closed through its close request')
        s.close_nightjar()
        s.say('nightjar: ended')
        s.stop_simulators()
    print('== session done: the calculator showed', announced(first), '/', announced(second), '/',
          announced(third), flush=True)
    return 0


def wait_for_main_window(s):
    """Waits while the user picks a port; True once Nightjar's main window is up."""
    while s.nightjar.poll() is None:
        if s.probe('wait', MAIN, '5', check=False, timeout=40) == '':
            return True
    return False


def hardware(build):
    """Nightjar and the player simulator for a real calculator on a port
    mapped with map-port.sh; ends when the user closes Nightjar."""
    rig = Rig(build, cable=False, windows='auto')
    rig.env.pop('LD_PRELOAD', None)  # the cable library would refuse the real serial devices
    with rig:
        rig.start_player('--play')
        print('Pick the port your calculator is on (see scripts/map-port.sh --list).', flush=True)
        rig.nightjar = rig.start(rig.exe(*NIGHTJAR))
        rig.nightjar.wait()
        rig.player('--close', check=False)
    return rig.nightjar.returncode


def interactive(build):
    with System(build, verbose=True, windows='auto') as s:
        s.start_calculator()
        s.start_player('--play')
        s.start_nightjar()
        s.arrange()
        if s.managed:
            print('A window manager runs: the windows are its to move, stack and switch to.', flush=True)
        print('Pick port 1 in Nightjar\'s chooser. The calculator simulator is on COM2.', flush=True)
        print('Close Nightjar to end the session.', flush=True)
        if wait_for_main_window(s):
            s.arrange_running()
        s.nightjar.wait()
        s.stop_simulators()
    return 0


