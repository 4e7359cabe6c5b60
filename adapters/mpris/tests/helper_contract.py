#!/usr/bin/python3
"""nj-mpris-helper against fake MPRIS players on a private session bus, with
a client that speaks the line protocol as the bridge does. No Wine.

    helper_contract.py NATIVE_BUILD_DIR [TEST ...]

Where a check says an update "keeps arriving" while another player hangs,
it must come within BOUND: the time the helper gives any call to a player.
A helper that waited on the hung player would be held for D-Bus's own 25 s
(or for the bound itself), so the check tells the two apart by a factor of
hundreds on a machine at rest and still passes on a loaded one.
"""
import contextlib
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'scripts', 'lib'))
from njharness import eventually, expect, run_tests  # noqa: E402
from njharness.mpris import HelperRig  # noqa: E402

BOUND = 2.0  # seconds; the helper's kCallBoundMs
FIRST = 'TRACK 1. The Lantern Moths - Cold Harbour - Plavox'
SECOND = 'TRACK 2. Orchard Static, Zo\u00eb Marlowe - Night Bus - Plavox'


@contextlib.contextmanager
def running(native, *players, helper_args=()):
    """helper_with, ended with finish() when the body passes; always cleaned up."""
    h, client = helper_with(native, *players, helper_args=helper_args)
    try:
        yield h, client
        finish(h, client)
    finally:
        for p in h.players:
            if p.stopped:
                p.resume()
        client.close()
        h.close()


def helper_with(native, *players, helper_args=()):
    """A rig with these fake players (name or (name, args...)), the first
    playing, the helper started and a bridge client that has seen PLAYER 1."""
    h = HelperRig(native)
    h.__enter__()
    try:
        for p in players:
            name, *args = (p,) if isinstance(p, str) else p
            h.add_player(name, *args)
        h.players[0].tell(status='Playing')
        h.start_helper(*helper_args)
        client = h.connect()
        client.first_lines = client.wait_for(lambda line: line == 'PLAYER 1', 10)
        expect(client.first_lines, 'the helper announced no player')
        # The players already there answered before the helper said where it listens.
        expect('PLAYER 0' not in client.first_lines, f'told "no player" first: {client.first_lines}')
    except BaseException:
        h.close()
        raise
    return h, client


def finish(h, client):
    """Ends the helper as a user would: it must exit cleanly, sanitizers included."""
    client.close()
    status = h.stop_helper()
    expect(status == 0, f'the helper ended with {status}')


def track_line(client, want, seconds=10):
    seen = client.wait_for(lambda line: line == want, seconds)
    expect(seen, f'no {want!r} within {seconds} s')


def status_of(client, state, seconds=10):
    """The first STATUS line with this play state, as its six numbers."""
    seen = client.wait_for(lambda line: line.startswith(f'STATUS {state} '), seconds)
    expect(seen, f'no STATUS with state {state}')
    return [int(x) for x in seen[-1].split()[1:]]


def command(h, client, name, want, player=None, seconds=10):
    """Sends CMD name; the calls that reach the player must be `want`."""
    before = len(h.calls())
    client.send(name)
    got = h.wait_calls(before, len(want), seconds) if want else []
    expect(got == want, f'{name}: the player got {got or h.call_names(before)}, wanted {want}')
    if player:
        callers = {c['player'] for c in h.calls(before)}
        expect(callers == {player}, f'{name} went to {callers}, wanted {player}')
    return h.calls(before)


def promptly(h, client, player, started):
    """Next for `player`, pressed now, reaches it within BOUND of `started`
    (a moment the caller chose: when the other player began to hang)."""
    sent = time.time()
    calls = command(h, client, 'next', ['Next'], player=player, seconds=10)
    late = calls[0]['t'] - max(started, sent)
    expect(late < BOUND, f'Next reached {player} {late:.2f} s after it was pressed')


def test_every_command_becomes_its_mpris_call_and_status_follows(native):
    with running(native, 'fake1') as (h, client):
        statuses = [line.split()[1:] for line in client.first_lines if line.startswith('STATUS ')]
        expect(statuses and statuses[-1][0] == '1' and statuses[-1][3] == '214', f'told {client.first_lines}')
        command(h, client, 'pause', ['Pause'])
        status_of(client, 3)
        command(h, client, 'pause', ['Play'])  # the player's pause is a toggle
        status_of(client, 1)
        command(h, client, 'skip-forward', ['Seek 5000000'])
        expect(client.wait_for(lambda line: line.startswith('STATUS 1 ') and int(line.split()[2]) >= 5000, 10),
               'the position did not move on with the skip')
        command(h, client, 'skip-back', ['Seek -5000000'])
        command(h, client, 'next', ['Next'])
        track_line(client, SECOND)
        command(h, client, 'previous', ['Previous'])
        track_line(client, FIRST)
        command(h, client, 'shuffle', ['Set Shuffle True'])
        before = len(h.calls())
        client.send('fade-stop')
        names = h.wait_calls(before, 21, 15)
        calls = h.calls(before)
        expect(names and names[-2:] == ['Stop', 'Set Volume 0.8'], f'fade-and-stop ended with {names}')
        volumes = [float(n.split()[-1]) for n in names[:-2]]
        expect(volumes == sorted(volumes, reverse=True) and volumes[-1] < 0.1, f'no fade: {volumes}')
        expect(calls[-2]['t'] - calls[0]['t'] >= 1.5, 'the fade took less than its 2 s')
        status_of(client, 0)
        command(h, client, 'play', ['Play'])
        command(h, client, 'stop', ['Stop'])
        # Stopped: skipping does nothing. Keys are carried out in order, so
        # the next one that reaches the player bounds the wait.
        before = len(h.calls())
        client.send('skip-forward')
        client.send('quit')
        expect(h.wait_calls(before, 1) == ['Quit'], f'skip while stopped, then quit: {h.call_names(before)}')
        expect(client.wait_for(lambda line: line == 'PLAYER 0', 10), 'no PLAYER 0 after Quit')


def test_players_come_and_go_and_the_last_to_start_is_followed(native):
    with running(native, 'fake1') as (h, client):
        h.players[0].tell(quit=True)
        expect(client.wait_for(lambda line: line == 'PLAYER 0', 10), 'no PLAYER 0 when the player left')
        client.send('next')  # nobody to take it; logged
        second = h.add_player('fake2')
        expect(client.wait_for(lambda line: line == 'PLAYER 1', 10), 'the new player was not followed')
        second.tell(metadata={'xesam:artist': ['Harrow Lane'], 'xesam:title': 'Glasshouse'})
        track_line(client, 'TRACK 1. Harrow Lane - Glasshouse - Plavox')
        third = h.add_player('fake3')
        third.tell(metadata={'xesam:artist': ['Quiet Engines'], 'xesam:title': 'Copperline'})
        third.tell(status='Playing')
        track_line(client, 'TRACK 1. Quiet Engines - Copperline - Plavox')
        command(h, client, 'stop', ['Stop'], player='fake3')
        expect('Next' not in h.call_names(), 'the key pressed with no player was carried out later')


def test_strangers_are_refused_and_a_new_bridge_replaces_the_old(native):
    with running(native, 'fake1') as (h, client):
        for stranger in (b'HELLO 00000000000000000000000000000000\nCMD stop\n', b'x' * 5000 + b'\n',
                         b'CMD stop\n'):
            with socket.create_connection(('127.0.0.1', h.port), timeout=10) as s:
                s.sendall(stranger)
                s.settimeout(10)
                expect(s.recv(100) == b'', f'a stranger was answered: {stranger[:20]!r}')
        second = h.connect()
        expect(second.wait_for(lambda line: line == 'PLAYER 1', 10), 'the new bridge was not told everything')
        expect(client.at_end(10), 'the old bridge was kept')
        command(h, second, 'next', ['Next'])
        expect(h.call_names()[0] == 'Next', f'strangers made calls: {h.call_names()}')
        second.close()


def test_text_from_players_arrives_composed(native):
    with running(native, 'fake1') as (h, client):
        h.players[0].tell(metadata={'xesam:artist': ['Cafe\u0301 Noe\u0308l'], 'xesam:title': 'A\u030angstro\u0308m',
                                    'xesam:trackNumber': 4})
        track_line(client, 'TRACK 4. Caf\u00e9 No\u00ebl - \u00c5ngstr\u00f6m - Plavox')
        h.players[0].tell(metadata={'xesam:url': 'file:///m/Cafe%CC%81%20Blue.ogg'})
        track_line(client, 'TRACK 1.  - Caf\u00e9 Blue - Plavox')


def test_a_player_with_two_names_is_one_player(native):
    # It appears while the helper runs, taking its instance name first, and leaves.
    with HelperRig(native) as h:
        h.start_helper('--player', 'vlcish')
        client = h.connect()
        expect(client.wait_for(lambda line: line == 'PLAYER 0', 10), 'a player where there is none')
        h.add_player('vlcish', '--also-instance').tell(status='Playing')
        expect(client.wait_for(lambda line: line == 'PLAYER 1', 10), 'the player was not followed')
        command(h, client, 'next', ['Next'], player='vlcish')
        h.players[0].tell(quit=True)
        expect(client.wait_for(lambda line: line == 'PLAYER 0', 10), 'no PLAYER 0 when it left')
        finish(h, client)
        log = h.helper_said()
        expect(log.count('following') == 1 and 'following vlcish\n' in log, f'not followed once by its name: {log}')
    # There before the helper, which is told its instance name: the same one player.
    h = HelperRig(native)
    with h:
        p = h.add_player('vlcish', '--also-instance')
        h.start_helper('--player', f'vlcish.instance{p.proc.pid}')
        client = h.connect()
        expect(client.wait_for(lambda line: line == 'PLAYER 1', 10), 'the instance name found nothing')
        expect('following vlcish\n' in h.helper_said(), h.helper_said())
        finish(h, client)


def test_a_hung_player_delays_no_other(native):
    """B plays and is followed; A answered once, then stops answering."""
    with running(native, 'B', 'A') as (h, client):
        b, a = h.players
        a.tell(hang=True)
        started = time.time()
        # Its track changes (PropertiesChanged with Metadata alone).
        a.tell(metadata={'xesam:artist': ['Hung'], 'xesam:title': 'Changes'})
        b.tell(metadata={'xesam:artist': ['Bee'], 'xesam:title': 'Track'})
        track_line(client, 'TRACK 1. Bee - Track - Plavox', BOUND)
        promptly(h, client, 'B', started)
        # It starts playing: it is followed from what it said before it hung.
        a.tell(status='Playing')
        track_line(client, 'TRACK 1. Hung - Changes - Plavox', BOUND)
        client.send('next')  # for A: dropped once it has not answered within the bound
        expect(eventually(lambda: 'A does not answer; dropped: next' in h.helper_said(), 10),
               'the key for the hung player was not dropped')
        # The user starts B again: followed at once, its keys carried out.
        b.tell(status='Paused')
        started = time.time()
        b.tell(status='Playing')
        expect(client.wait_for(lambda line: line.startswith('TRACK 2.'), BOUND), 'B was not followed again')
        promptly(h, client, 'B', started)
        # A answers again: the key it was sent is never carried out.
        a.tell(hang=False)
        a.tell(metadata={'xesam:title': 'Back'})
        expect(eventually(lambda: sum(e['player'] == 'A' for e in h.events()) >= 2, 10), 'A did not come back')
        expect([c for c in h.calls() if c['player'] == 'A'] == [], f'A carried out {h.calls()}')


def test_a_player_that_appears_hung_or_slow_delays_no_other(native):
    with running(native, 'B') as (h, client):
        started = time.time()
        h.add_player('A', '--hung')
        h.players[0].tell(metadata={'xesam:artist': ['Bee'], 'xesam:title': 'Track'})
        track_line(client, 'TRACK 1. Bee - Track - Plavox', BOUND)
        promptly(h, client, 'B', started)
        expect(eventually(lambda: 'A has not answered within 2 s' in h.helper_said(), 10),
               'the hung player was not left aside')
        started = time.time()
        slow = h.add_player('S', '--slow', '3')
        promptly(h, client, 'B', started)
        # Once it has answered, starting it makes it followed; its keys wait
        # for an answer it gives too late, so they are dropped.
        expect(eventually(lambda: 'S has not answered' in h.helper_said(), 10), 'the slow player was not late')
        slow.tell(status='Playing')
        expect(client.wait_for(lambda line: line.startswith('TRACK 1. The Lantern Moths'), 10), 'S was not followed')
        client.send('next')
        expect(eventually(lambda: 'S does not answer; dropped: next' in h.helper_said(), 10),
               'the key for the slow player was not dropped')
        slow.tell(metadata={'xesam:artist': ['Slow'], 'xesam:title': 'Change'})
        started = time.time()
        track_line(client, 'TRACK 1. Slow - Change - Plavox', BOUND)
        expect(time.time() - started < BOUND, 'the slow player\'s track change came late')


def test_a_stopped_process_is_treated_like_a_slow_player(native):
    """A plays and is followed, B is paused; A is stopped with SIGSTOP."""
    with running(native, 'A', 'B') as (h, client):
        a, b = h.players
        b.tell(metadata={'xesam:artist': ['Bee'], 'xesam:title': 'Track'}, status='Paused')
        a.stop()
        client.send('next')
        expect(eventually(lambda: 'A does not answer; dropped: next' in h.helper_said(), 10),
               'the key for the stopped player was not dropped')
        started = time.time()
        b.tell(status='Playing')
        track_line(client, 'TRACK 1. Bee - Track - Plavox', BOUND)
        promptly(h, client, 'B', started)
        a.resume()
        a.tell(metadata={'xesam:title': 'Awake'})
        expect(eventually(lambda: any(e['player'] == 'A' for e in h.events()), 10), 'A did not resume')
        expect([c for c in h.calls() if c['player'] == 'A'] == [], f'A carried out {h.calls()}')


def main():
    native = os.path.abspath(sys.argv[1])
    return run_tests(globals(), native, sys.argv[2:])


if __name__ == '__main__':
    sys.exit(main())
