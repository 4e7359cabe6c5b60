#!/usr/bin/python3
"""The calculator's own program (NIGHTJAR.8xp) in the emulated TI-83 Plus,
end to end with the native nightjar and a fake MPRIS player on a private
session bus, on the virtual cable.

    system_test.py NATIVE_BUILD_DIR PROGRAM.8xp

Every key becomes its MPRIS call; tracks show on the calculator's screen
(accented letters in the calculator's font); the player quitting shows
"nothing playing". Faults: the PC unplugged in the middle of a byte either
way (the program lets go within its bound and goes on), and a key at the
instant an announcement begins (both ends pull a wire: nothing hangs,
nothing wrong is shown or carried out). Every wait is for an event, with a
limit.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'scripts', 'lib'))
from njharness.checks import eventually  # noqa: E402
from njharness.mpris import HELPER_LSAN, HelperRig  # noqa: E402
from njharness.native import LIMIT, Cable, CableState, Lines, in_cable_environment  # noqa: E402
from njharness.z80calc import EmulatedCalculator, event_time  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
PROGRAM = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None
# The program's longest wait for the PC (the first answer of a byte), and
# room for a loaded machine.
BOUND = 1.5
ROOM = 1.0
PC, CALC = 0, 1

TRACKS = [{'xesam:artist': ['The Lantern Moths'], 'xesam:title': 'Cold Harbour', 'xesam:trackNumber': 1},
          {'xesam:artist': ['Orchard Static'], 'xesam:title': 'Night Bus', 'xesam:trackNumber': 2}]


class OnTheCable(unittest.TestCase):
    """One cable, nightjar, player and calculator for all of a class's tests, in order."""

    @classmethod
    def setUpClass(cls):
        # Each piece is taken down again even when a later one fails to start.
        cls.tmp = tempfile.TemporaryDirectory(prefix='nj-z80calc.')
        cls.addClassCleanup(cls.tmp.cleanup)
        in_cable_environment(BUILD, HELPER_LSAN)
        cls.cable = Cable(BUILD, cls.tmp.name)
        cls.addClassCleanup(cls.cable.stop)
        cls.state = CableState(cls.cable)
        cls.addClassCleanup(cls.state.close)
        cls.rig = HelperRig(BUILD, tmp=cls.tmp.name)
        cls.addClassCleanup(cls.rig.close)
        cls.rig.start_bus()
        cls.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=cls.rig.bus.address)
        cls.calc = EmulatedCalculator(BUILD, PROGRAM, cls.cable.ends[CALC])
        cls.addClassCleanup(cls.calc.finish)
        cls.calc.wait_screen('nothing playing')
        cls.player = cls.rig.add_player('alpha', '--tracks', json.dumps(TRACKS))
        cls.nj = subprocess.Popen([os.path.join(BUILD, 'linux/nightjar'), '--device', cls.cable.device, '--verbose',
                                   '--wait-device'], env=cls.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        cls.addClassCleanup(cls.stop_nightjar)
        cls.log = Lines(cls.nj.stderr)
        cls.calc.wait_screen('The Lantern Moths', 'Cold Harbour')

    @classmethod
    def stop_nightjar(cls):
        if cls.nj.poll() is None:
            cls.nj.send_signal(signal.SIGTERM)
        status = cls.nj.wait(LIMIT)
        cls.nj.stderr.close()
        return status

    @classmethod
    def tearDownClass(cls):
        status = cls.calc.finish()
        nj_status = cls.stop_nightjar()
        print('\n'.join(['nightjar said:', *cls.log.lines, 'z80calc said:', *cls.calc.log.lines]), file=sys.stderr)
        assert status == 0, 'z80calc ended with %d: the program did not leave the calculator as it found it' % status
        assert nj_status == 0, 'nightjar ended with %d' % nj_status

    def key(self, name, call=None, *args):
        """Presses a key; the player gets `call` with `args` for it, first."""
        since = len(self.rig.calls())
        self.calc.press(name)
        got = eventually(lambda: self.rig.calls(since), LIMIT, 0.01)
        self.assertTrue(got, 'key %s: no call at the player' % name)
        self.assertEqual((got[0]['call'], got[0]['args']), (call, list(args)), 'key %s' % name)

    def shows(self, *texts):
        return self.calc.wait_screen(*texts, since=len(self.calc.screens()) - 1)[1]


class ProgramWithNightjar(OnTheCable):
    def test_1_every_key_is_its_mpris_call(self):
        # In an order where the player's state lets each call through.
        self.key('window', 'Play')
        self.key('right', 'Seek', 5000000)
        self.key('left', 'Seek', -5000000)
        self.key('zoom', 'Pause')
        self.key('zoom', 'Play')  # the media player's Pause resumes a paused track
        # 2nd shows or hides the PC's window: no call at the player.
        mark = self.log.count()
        self.calc.press('2nd')
        self.log.wait_for('byte 54', mark)
        self.key('graph', 'Next')
        self.shows('Orchard Static', 'Night Bus')
        self.key('y=', 'Previous')
        self.shows('The Lantern Moths', 'Cold Harbour')
        self.key('trace', 'Stop')

    def test_2_a_track_change_shows_artist_and_title(self):
        self.player.tell(metadata={'xesam:artist': ['Zo\u00eb Marlowe'], 'xesam:title': '\u00c7a ira, Se\u00f1or'})
        self.shows('Zo\u00eb Marlowe', '\u00c7a ira, Se\u00f1or')

    def test_3_the_player_quitting_shows_nothing_playing(self):
        self.player.tell(quit=True)
        self.shows('nothing playing')


class Faults(OnTheCable):
    def unplug_pc_after(self, changes):
        """Unplugs the PC's end (device and lines gone) once the lines have
        changed `changes` times from now; the time it did."""
        when = []

        def unplug():
            os.unlink(self.cable.device)
            self.state.unplug_now(PC)
            when.append(time.time())
        return self.state.after_changes(changes, unplug), when

    def plug_pc_back(self):
        mark = self.log.count()
        self.cable.njcable('--plug', str(PC))
        os.symlink(self.cable.ends[PC], self.cable.device)
        self.log.wait_for('opened', mark)
        self.log.wait_for('announced', mark)  # back on the cable, the current track is told again

    def assert_program_gives_up(self, since):
        """The program drops the broken byte within its bound of `since`
        and lets go of the lines. Its interrupts are off only inside a byte,
        so a key (one it ignores) is scanned only once it is out."""
        mark = self.calc.log.count()
        self.calc.press('enter')
        line, _ = self.calc.wait_event('key enter', mark)
        self.assertLess(event_time(line) - since, BOUND + ROOM, 'the program held on to the broken byte')
        self.assertEqual(self.state.outputs(CALC), CableState.RELEASED)

    def test_4_the_pc_unplugged_while_the_calculator_sends(self):
        watcher, when = self.unplug_pc_after(6)  # in the byte's second bit
        self.calc.press('window')
        watcher.join(LIMIT)
        self.assertTrue(when, 'the key byte never started')
        self.assert_program_gives_up(when[0])
        self.plug_pc_back()
        self.shows('The Lantern Moths', 'Cold Harbour')
        self.key('window', 'Play')

    def test_5_the_pc_unplugged_while_it_announces(self):
        before = len(self.calc.screens())
        watcher, when = self.unplug_pc_after(6)
        self.player.tell(metadata={'xesam:artist': ['Unplugged Midway'], 'xesam:title': 'Half Told'})
        watcher.join(LIMIT)
        self.assertTrue(when, 'the announcement never started')
        self.assert_program_gives_up(when[0])
        self.plug_pc_back()
        self.shows('Unplugged Midway', 'Half Told')  # told again, whole
        for screen in self.calc.screens()[before:]:
            self.assertFalse('Unplugged' in screen and 'Half Told' not in screen, 'a broken announcement shown')
        self.key('right', 'Seek', 5000000)

    def collide(self, key, artist, title):
        """`key` pressed so that its byte's first pull and the announcement
        of `artist` / `title` start at the same instant, each end having
        seen the wires idle. Returns once both ends are done with it."""
        mark, calc_mark = self.log.count(), self.calc.log.count()
        self.calc.press('collide ' + key)
        self.calc.wait_event("the program's pull held", calc_mark)
        self.player.tell(metadata={'xesam:artist': [artist], 'xesam:title': title})
        self.calc.wait_event('collision: both pulled', calc_mark)
        self.log.wait_until(lambda line: ('"%s" / "%s"' % (artist, title)) in line, mark, 'the announcement told or dropped')
        self.assert_program_gives_up(event_time(self.calc.log.lines[-1]))

    def test_6_a_key_at_the_instant_an_announcement_begins(self):
        # GRAPH (31h) begins with a 1 bit; "Crossed" with a 1 bit too, "Bumped" with a 0 bit:
        # both ends pull the same line, then each the other's.
        for artist, title in (('Crossed', 'Same Wire'), ('Bumped', 'Other Wire')):
            since, before = len(self.rig.calls()), len(self.calc.screens())
            self.collide('graph', artist, title)
            # GRAPH carried out as itself or not at all, before the next key, which works.
            self.calc.press('window')
            self.assertTrue(eventually(lambda: self.rig.calls(since) and self.rig.calls(since)[-1]['call'] == 'Play',
                                       LIMIT, 0.01), 'the key after the collision did not work')
            self.assertIn([c['call'] for c in self.rig.calls(since)], (['Play'], ['Next', 'Play']))
            for screen in self.calc.screens()[before:]:
                self.assertFalse(artist in screen and title not in screen, 'a broken announcement shown')
            # The next track shows.
            self.player.tell(metadata={'xesam:artist': ['After ' + artist], 'xesam:title': 'Fine'})
            self.shows('After ' + artist, 'Fine')


if __name__ == '__main__':
    unittest.main(verbosity=2)
