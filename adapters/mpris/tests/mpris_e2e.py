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
        got = m.rig.receive(len(FIRST), timeout=20)
        expect(got == FIRST, f'first announcement {got}')
    except BaseException:
        m.__exit__(None, None, None)
        raise
    return m


def press(m, key, want, seconds=10):
    before = len(m.calls())
    r = m.rig.calculator('send', str(key))
    expect(r.returncode == 0, f'key {key} did not go out: {r.stderr}')
    got = m.wait_calls(before, len(want), seconds)
    expect(got == want, f'key {key}: the player got {got}, wanted {want}')


def test_every_key_reaches_the_player_as_its_mpris_call(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(status='Stopped')
        eventually(lambda: m.ask(0, 104) == 0, 5)
        press(m, 52, ['Play'])
        expect(eventually(lambda: m.ask(0, 104) == 1, 5), 'the bridge did not learn of the play')
        press(m, 51, ['Pause'])
        expect(eventually(lambda: m.ask(0, 104) == 3, 5), 'the bridge did not learn of the pause')
        press(m, 51, ['Play'])  # the player's pause is a toggle
        expect(eventually(lambda: m.ask(0, 104) == 1, 5), 'no play after the second pause')
        press(m, 3, ['Seek 5000000'])
        press(m, 2, ['Seek -5000000'])
        press(m, 49, ['Next'])
        expect(m.rig.receive(len(SECOND), timeout=15) == SECOND, 'no announcement after Next')
        press(m, 53, ['Previous'])
        expect(m.rig.receive(len(FIRST), timeout=15) == FIRST, 'no announcement after Previous')
        press(m, 50, ['Stop'])
        expect(eventually(lambda: m.ask(0, 104) == 0, 5), 'the bridge did not learn of the stop')
        before = len(m.calls())
        m.rig.calculator('send', '0', '1', '55', '255')
        time.sleep(1.5)
        expect(m.calls(before) == [], f'unknown keys made calls: {m.call_names(before)}')
    finally:
        m.__exit__(None, None, None)


def test_the_other_player_messages_map_and_queries_answer_from_the_cache(build):
    m = started(build, 'fake1')
    try:
        expect(m.ask(0, 104) == 1, 'not playing')
        expect(m.ask(1, 105) == 214, 'length in seconds')
        expect(m.ask(0, 126) == 0 and m.ask(1, 126) == 0, 'no frequency or bit rate in this metadata')
        first, second = m.ask(0, 105), None
        time.sleep(1.0)
        second = m.ask(0, 105)
        expect(700 <= second - first <= 3000, f'the position does not run: {first} then {second}')

        before = len(m.calls())
        m.plavoxsim('--send', '40023')
        expect(m.wait_calls(before, 1) == ['Set Shuffle True'], f'shuffle: {m.call_names(before)}')
        before = len(m.calls())
        expect(m.ask(0, 101) == 0, 'clear playlist answers 0')
        m.plavoxsim('--send', '40147')
        fade = m.wait_calls(before, 21, seconds=10)
        expect(fade and fade[-2:] == ['Stop', 'Set Volume 0.8'], f'fade-and-stop ended with {fade and fade[-3:]}')
        volumes = [float(c.split()[-1]) for c in fade[:-2]]
        expect(volumes == sorted(volumes, reverse=True) and volumes[-1] < 0.1,
               f'the volume did not fade: {volumes}')
        spread = m.calls(before)[-2]['t'] - m.calls(before)[0]['t']
        expect(1.5 <= spread <= 3.0, f'the fade took {spread:.2f} s')

        before = len(m.calls())
        m.plavoxsim('--close')
        expect(m.wait_calls(before, 1) == ['Quit'], f'close: {m.call_names(before)}')
    finally:
        m.__exit__(None, None, None)


def test_metadata_changes_reach_the_calculator_as_playerctl_reads_them(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(metadata={'xesam:artist': ['Mabel & the Fieldhands', 'Zo\u00eb'],
                                    'xesam:title': 'Salt Road - Live', 'xesam:trackNumber': 5,
                                    'mpris:length': 302_000_000})
        want = announcement('Mabel & the Fieldhands, Zo\u00eb', 'Salt Road - Live')
        expect(m.rig.receive(len(want), timeout=15) == want, 'wrong announcement')
        artist = m.playerctl('metadata', '--format', '{{artist}}')
        title = m.playerctl('metadata', '--format', '{{title}}')
        expect(announcement(artist, title) == want, f'playerctl reads {artist!r} / {title!r}')
        expect(m.player_window_title() == '5. Mabel & the Fieldhands, Zo\u00eb - Salt Road - Live - Plavox',
               f'window title {m.player_window_title()!r}')
        expect(m.rig.calculator('recv', '1', timeout=3).returncode != 0, 'more than one announcement')
        # No title: the file name stands in.
        m.players[0].tell(metadata={'xesam:url': 'file:///music/Harrow%20Lane%20-%20Glasshouse.flac'})
        want = announcement('', 'Harrow Lane - Glasshouse')
        expect(m.rig.receive(len(want), timeout=15) == want, 'no announcement for a track without tags')
    finally:
        m.__exit__(None, None, None)


def test_players_coming_and_going(build):
    m = started(build, 'fake1')
    try:
        m.players[0].tell(quit=True)
        expect(m.rig.receive(len(EMPTIED), timeout=15) == EMPTIED, 'no emptied announcement')
        expect(m.player_window_title() == '', 'the player window outlived the player')
        expect(m.rig.calculator('recv', '1', timeout=3).returncode != 0, 'the emptied announcement repeated')

        second = m.add_player('fake2')
        second.tell(status='Playing')
        expect(eventually(lambda: m.player_window_title() != '', 10), 'no window for the new player')
        # Its first track has the title Plavox saw last, so nothing is announced until it changes.
        second.tell(metadata={'xesam:artist': ['Harrow Lane'], 'xesam:title': 'Glasshouse'})
        want = announcement('Harrow Lane', 'Glasshouse')
        expect(m.rig.receive(len(want), timeout=15) == want, 'the new player was not announced')

        # A third one that starts playing takes over; keys follow it.
        third = m.add_player('fake3')
        third.tell(metadata={'xesam:artist': ['Quiet Engines'], 'xesam:title': 'Copperline'})
        third.tell(status='Playing')
        want = announcement('Quiet Engines', 'Copperline')
        expect(m.rig.receive(len(want), timeout=15) == want, 'the player that started was not followed')
        before = len(m.calls())
        m.rig.calculator('send', '50')
        expect(eventually(lambda: len(m.calls(before)) >= 1, 10), 'no call')
        expect([c['player'] for c in m.calls(before)] == ['fake3'], f'stop went to {m.calls(before)}')
    finally:
        m.__exit__(None, None, None)


def test_the_bridge_and_helper_reconnect_and_refuse_strangers(build):
    m = started(build, 'fake1')
    try:
        # A stranger without the token gets nothing and changes nothing.
        import socket
        with socket.create_connection(('127.0.0.1', m.port), timeout=5) as s:
            s.sendall(b'HELLO 00000000000000000000000000000000\nCMD stop\n')
            s.settimeout(5)
            expect(s.recv(100) == b'', 'a wrong token was answered')
        with socket.create_connection(('127.0.0.1', m.port), timeout=5) as s:
            s.sendall(b'x' * 5000 + b'\n')
            s.settimeout(5)
            expect(s.recv(100) == b'', 'an oversized hello was answered')
        expect(m.call_names() == [], f'strangers made calls: {m.call_names()}')

        status = m.stop_helper()
        expect(status == 0, f'the helper ended with {status}')
        expect(m.rig.receive(len(EMPTIED), timeout=15) == EMPTIED, 'no emptied announcement without the helper')
        m.start_helper()  # same port, same token
        m.players[0].tell(metadata={'xesam:artist': ['Harrow Lane'], 'xesam:title': 'Glasshouse'})
        want = announcement('Harrow Lane', 'Glasshouse')
        expect(m.rig.receive(len(want), timeout=20) == want, 'the bridge did not come back')

        m.bridge.kill()
        m.bridge.wait(timeout=10)
        expect(eventually(lambda: m.player_window_title() == '', 10), 'the window outlived the bridge')
        m.start_bridge()
        expect(eventually(lambda: m.player_window_title() != '', 10), 'the restarted bridge did not reconnect')
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
        mpv = subprocess.Popen(['mpv', '--no-video', '--ao=null', '--idle=no', '--no-config', '--really-quiet',
                                '--script=/usr/lib/mpv-mpris/mpris.so', *files], env=m.native_env(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            expect(eventually(lambda: 'mpv' in m.playerctl('-l'), 15), 'mpv is not on the bus')
            m.start_nightjar()
            want = announcement(*tracks[0])
            got = m.rig.receive(len(want), timeout=20)
            expect(got == want, f'first mpv track announced as {got}')
            m.rig.calculator('send', '49')
            want = announcement(*tracks[1])
            expect(m.rig.receive(len(want), timeout=20) == want, 'Next did not reach the calculator')
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
