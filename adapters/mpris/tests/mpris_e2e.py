#!/usr/bin/python3
"""Nightjar and the calculator against MPRIS players on a private session
bus, through nj-mpris-bridge.exe and nj-mpris-helper.

    mpris_e2e.py BUILD_DIR [TEST ...]
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'scripts', 'lib'))
from njharness import announcement, eventually, expect, run_tests  # noqa: E402
from njharness.mpris import MprisRig  # noqa: E402
from njharness import player_window as pw  # noqa: E402

# Waits on anything that goes through Wine: generous, since every Wine
# process start and message round trip may be several times slower on an
# emulated machine. They end as soon as what they wait for happens.
WINE = 60

FIRST = announcement('The Lantern Moths', 'Cold Harbour')
SECOND = announcement('Orchard Static, Zo\u00eb Marlowe', 'Night Bus')
EMPTIED = [0, 0, 2]


def started(build, *players):
    """A rig with the named fake players, the first one playing, and its first announcement taken."""
    m = MprisRig(build)
    m.__enter__()
    try:
        for name in players:
            m.add_player(name)
        m.players[0].tell(status='Playing')
        m.start_nightjar()
        got = m.rig.receive(len(FIRST), timeout=WINE)
        expect(got == FIRST, f'first announcement {got}')
    except BaseException:
        m.__exit__(None, None, None)
        raise
    return m


def press(m, key, want, seconds=WINE):
    """The calculator presses `key`; the player gets `want`, and nothing
    else: every key before it has been carried out or dropped by then,
    since keys are carried out in order."""
    before = len(m.calls())
    r = m.rig.calculator('send', str(key), timeout=WINE)
    expect(r.returncode == 0, f'key {key} did not go out: {r.stderr}')
    got = m.wait_calls(before, len(want), seconds)
    expect(got == want, f'key {key}: the player got {got or m.call_names(before)}, wanted {want}')


def state_is(m, state):
    return eventually(lambda: m.ask(0, 104) == state, WINE, interval=0.5)


def test_every_key_reaches_the_player_as_its_mpris_call(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(status='Stopped')
        expect(state_is(m, 0), 'the bridge did not learn of the stop')
        press(m, 52, ['Play'])
        expect(state_is(m, 1), 'the bridge did not learn of the play')
        press(m, 51, ['Pause'])
        expect(state_is(m, 3), 'the bridge did not learn of the pause')
        press(m, 51, ['Play'])  # the player's pause is a toggle
        expect(state_is(m, 1), 'no play after the second pause')
        press(m, 3, ['Seek 5000000'])
        press(m, 2, ['Seek -5000000'])
        press(m, 49, ['Next'])
        expect(m.rig.receive(len(SECOND), timeout=WINE) == SECOND, 'no announcement after Next')
        press(m, 53, ['Previous'])
        expect(m.rig.receive(len(FIRST), timeout=WINE) == FIRST, 'no announcement after Previous')
        press(m, 50, ['Stop'])
        expect(state_is(m, 0), 'the bridge did not learn of the stop')
        # Unknown keys make no call: the known key after them is the first
        # thing the player gets.
        r = m.rig.calculator('send', '0', '1', '55', '255', timeout=WINE)
        expect(r.returncode == 0, f'the unknown keys did not go out: {r.stderr}')
        press(m, 52, ['Play'])
    finally:
        m.__exit__(None, None, None)


def test_the_other_player_messages_map_and_queries_answer_from_the_cache(build):
    m = started(build, 'fake1')
    try:
        expect(m.ask(0, 104) == 1, 'not playing')
        expect(m.ask(1, 105) == 214, 'length in seconds')
        expect(m.ask(0, 126) == 0 and m.ask(1, 126) == 0, 'no frequency or bit rate in this metadata')
        # The position runs on at the playback rate between two answers.
        start, first = time.monotonic(), m.ask(0, 105)
        second = eventually(lambda: (lambda p: p if p >= first + 500 else None)(m.ask(0, 105)), WINE, interval=0.3)
        elapsed_ms = (time.monotonic() - start) * 1000
        expect(second and second - first <= elapsed_ms + 200,
               f'the position does not run with the clock: {first} then {second} after {elapsed_ms:.0f} ms')

        before = len(m.calls())
        m.plavoxsim('--send', str(pw.SHUFFLE))
        expect(m.wait_calls(before, 1, WINE) == ['Set Shuffle True'], f'shuffle: {m.call_names(before)}')
        before = len(m.calls())
        expect(m.ask(0, 101) == 0, 'clear playlist answers 0')
        m.plavoxsim('--send', str(pw.FADE_AND_STOP))
        fade = m.wait_calls(before, 21, seconds=WINE)
        expect(fade and fade[-2:] == ['Stop', 'Set Volume 0.8'], f'fade-and-stop ended with {fade and fade[-3:]}')
        volumes = [float(c.split()[-1]) for c in fade[:-2]]
        expect(volumes == sorted(volumes, reverse=True) and volumes[-1] < 0.1,
               f'the volume did not fade: {volumes}')
        spread = m.calls(before)[-2]['t'] - m.calls(before)[0]['t']
        expect(spread >= 1.5, f'the fade took {spread:.2f} s')

        before = len(m.calls())
        m.plavoxsim('--close')
        expect(m.wait_calls(before, 1, WINE) == ['Quit'], f'close: {m.call_names(before)}')
    finally:
        m.__exit__(None, None, None)


def test_metadata_changes_reach_the_calculator_as_playerctl_reads_them(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(metadata={'xesam:artist': ['Mabel & the Fieldhands', 'Zo\u00eb'],
                                    'xesam:title': 'Salt Road - Live', 'xesam:trackNumber': 5,
                                    'mpris:length': 302_000_000})
        want = announcement('Mabel & the Fieldhands, Zo\u00eb', 'Salt Road - Live')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'wrong announcement')
        artist = m.playerctl('metadata', '--format', '{{artist}}')
        title = m.playerctl('metadata', '--format', '{{title}}')
        expect(announcement(artist, title) == want, f'playerctl reads {artist!r} / {title!r}')
        expect(m.player_window_title() == '5. Mabel & the Fieldhands, Zo\u00eb - Salt Road - Live - Plavox',
               f'window title {m.player_window_title()!r}')
        # No title: the file name stands in. Had the track above been
        # announced twice, the second would come here instead.
        m.players[0].tell(metadata={'xesam:url': 'file:///music/Harrow%20Lane%20-%20Glasshouse.flac'})
        want = announcement('', 'Harrow Lane - Glasshouse')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'more than one announcement, or none for a track without tags')
        # Letters written with separate accents reach the calculator as one.
        m.players[0].tell(metadata={'xesam:artist': ['Cafe\u0301 Noe\u0308l'], 'xesam:title': 'Cafe\u0301'})
        want = announcement('Caf\u00e9 No\u00ebl', 'Caf\u00e9')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'decomposed text did not arrive composed')
    finally:
        m.__exit__(None, None, None)


def test_players_coming_and_going(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(quit=True)
        expect(m.rig.receive(len(EMPTIED), timeout=WINE) == EMPTIED, 'no emptied announcement')
        expect(m.player_window_title() == '', 'the player window outlived the player')

        second = m.add_player('fake2')
        second.tell(status='Playing')
        expect(eventually(lambda: m.player_window_title() != '', WINE), 'no window for the new player')
        # Its first track has the title Plavox saw last, so nothing is announced until it changes.
        # Had the emptied announcement repeated, it would come here instead.
        second.tell(metadata={'xesam:artist': ['Harrow Lane'], 'xesam:title': 'Glasshouse'})
        want = announcement('Harrow Lane', 'Glasshouse')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'the new player was not announced (or the emptied one repeated)')

        # A third one that starts playing takes over; keys follow it.
        third = m.add_player('fake3')
        third.tell(metadata={'xesam:artist': ['Quiet Engines'], 'xesam:title': 'Copperline'})
        third.tell(status='Playing')
        want = announcement('Quiet Engines', 'Copperline')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'the player that started was not followed')
        before = len(m.calls())
        press(m, 50, ['Stop'])
        expect([c['player'] for c in m.calls(before)] == ['fake3'], f'stop went to {m.calls(before)}')
    finally:
        m.__exit__(None, None, None)


def test_the_bridge_and_helper_reconnect(build):
    # Strangers on the helper's port: the native mpris.helper test.
    m = started(build, 'fake1')
    try:
        status = m.stop_helper()
        expect(status == 0, f'the helper ended with {status}')
        expect(m.rig.receive(len(EMPTIED), timeout=WINE) == EMPTIED, 'no emptied announcement without the helper')
        m.start_helper()  # same port, same token
        m.players[0].tell(metadata={'xesam:artist': ['Harrow Lane'], 'xesam:title': 'Glasshouse'})
        want = announcement('Harrow Lane', 'Glasshouse')
        expect(m.rig.receive(len(want), timeout=WINE) == want, 'the bridge did not come back')

        m.bridge.kill()
        m.bridge.wait(timeout=WINE)
        expect(eventually(lambda: m.player_window_title() == '', WINE), 'the window outlived the bridge')
        m.start_bridge()
        expect(eventually(lambda: m.player_window_title() != '', WINE), 'the restarted bridge did not reconnect')
    finally:
        m.__exit__(None, None, None)


def make_tagged_files(folder, tracks):
    files = []
    for i, (artist, title) in enumerate(tracks, 1):
        path = os.path.join(folder, f'{i:02d}.ogg')
        subprocess.run(['sox', '-n', '-r', '22050', '-c', '1', '--comment', f'ARTIST={artist}',
                        '--comment', f'TITLE={title}', '--comment', f'TRACKNUMBER={i}', path,
                        'synth', '30', 'sine', str(300 + 100 * i)], check=True, timeout=60)
        files.append(path)
    return files


def test_mpv_next_moves_to_the_next_file_whose_tags_reach_the_calculator(build):
    tracks = [('Orchard Static', 'Low Tide'), ('Quiet Engines', 'Copperline'), ('Harrow Lane', 'Glasshouse')]
    m = MprisRig(build)
    with m:
        files = make_tagged_files(m.rig.tmp, tracks)
        # Each file loops: only Next moves on. A file that ends moves mpv on
        # by itself, and on a machine where Wine starts slowly the key came
        # after that (issue 14's "Next did not reach the calculator").
        mpv = subprocess.Popen(['mpv', '--no-video', '--ao=null', '--idle=no', '--no-config', '--really-quiet',
                                '--loop-file=inf', '--script=/usr/lib/mpv-mpris/mpris.so', *files], env=m.native_env(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            expect(eventually(lambda: 'mpv' in m.playerctl('-l'), WINE), 'mpv is not on the bus')
            m.start_nightjar()
            want = announcement(*tracks[0])
            got = m.rig.receive(len(want), timeout=WINE)
            expect(got == want, f'first mpv track announced as {got}')
            r = m.rig.calculator('send', '49', timeout=WINE)
            expect(r.returncode == 0, f'Next did not go out: {r.stderr}')
            want = announcement(*tracks[1])
            got = m.rig.receive(len(want), timeout=WINE)
            expect(got == want, f'Next did not reach the calculator: {got}')
            expect(m.playerctl('-p', 'mpv', 'metadata', 'title') == tracks[1][1], 'mpv is not on the second file')
        finally:
            mpv.kill()
            mpv.wait(timeout=10)


def main():
    build = os.path.abspath(sys.argv[1])
    os.environ.setdefault('TMPDIR', tempfile.gettempdir())
    return run_tests(globals(), build, sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
