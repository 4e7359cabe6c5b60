#!/usr/bin/python3
"""A media player on the session bus that speaks MPRIS and nothing else.

    fake_player.py NAME CALL_LOG [--tracks JSON] [--no-quit] [--no-next]
                   [--also-instance] [--hung] [--slow SECONDS]

Owns org.mpris.MediaPlayer2.NAME (and NAME.instance<pid> with
--also-instance, on the same connection, as VLC does). --hung: it answers
no call (method or property) until told {"hang": false}; the calls it got
meanwhile are then carried out, as a stopped process would on SIGCONT.
--slow: every call is carried out and answered SECONDS late. Signals go out
as usual either way. Every method call and property write
that reaches it is appended to CALL_LOG as one JSON object per line with
its arrival time (time.time()); so is each metadata change made on command
(as an "event"). Standard input takes JSON commands, one a
line:
    {"metadata": {...}}     replace the current track's metadata
    {"status": "Playing"}   change the playback status
    {"position": us}        jump there and emit Seeked
    {"rename": "NAME2"}     give up the bus name and take another
    {"hang": true|false}    stop answering calls / answer them again
    {"slow": SECONDS}       answer every call that late (0: at once)
    {"quit": true}          leave the bus and end
The player goes through TRACKS (a JSON list of metadata dictionaries) on
Next and Previous.
"""
import argparse
import json
import os
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ROOT = 'org.mpris.MediaPlayer2'
PLAYER = 'org.mpris.MediaPlayer2.Player'
PROPS = 'org.freedesktop.DBus.Properties'
PATH = '/org/mpris/MediaPlayer2'

DEFAULT_TRACKS = [
    {'xesam:artist': ['The Lantern Moths'], 'xesam:title': 'Cold Harbour', 'xesam:trackNumber': 1,
     'mpris:length': 214_000_000},
    {'xesam:artist': ['Orchard Static', 'Zo\u00eb Marlowe'], 'xesam:title': 'Night Bus', 'xesam:trackNumber': 2,
     'mpris:length': 187_000_000},
    {'xesam:artist': ['Quiet Engines'], 'xesam:title': 'Copperline', 'mpris:length': 158_000_000},
]


def to_dbus_metadata(meta, index):
    out = {'mpris:trackid': dbus.ObjectPath(f'/org/nightjar/track/{index}')}
    for key, value in meta.items():
        if key == 'mpris:length':
            out[key] = dbus.Int64(value)
        elif key == 'xesam:trackNumber':
            out[key] = dbus.Int32(value)
        elif isinstance(value, list):
            out[key] = dbus.Array(value, signature='s')
        elif isinstance(value, int):
            out[key] = dbus.Int32(value)
        else:
            out[key] = dbus.String(value)
    return dbus.Dictionary(out, signature='sv')


class FakePlayer(dbus.service.Object):
    def __init__(self, bus, name, log, tracks, can_quit, can_next, hung=False, slow=0.0, also_instance=False):
        super().__init__(bus, PATH)
        self.bus = bus
        self.hung = hung
        self.held = []
        self.slow = slow
        self.log = open(log, 'a', buffering=1)
        self.tracks = tracks
        self.index = 0
        self.meta = to_dbus_metadata(tracks[0], 0) if tracks else dbus.Dictionary({}, signature='sv')
        self.status = 'Stopped'
        self.position_us = 0
        self.since = time.monotonic()
        self.props = {
            'Rate': dbus.Double(1.0), 'Volume': dbus.Double(0.8), 'Shuffle': dbus.Boolean(False),
            'CanGoNext': dbus.Boolean(can_next), 'CanGoPrevious': dbus.Boolean(True),
            'CanPlay': dbus.Boolean(True), 'CanPause': dbus.Boolean(True), 'CanSeek': dbus.Boolean(True),
            'CanControl': dbus.Boolean(True), 'LoopStatus': dbus.String('None'),
            'MinimumRate': dbus.Double(1.0), 'MaximumRate': dbus.Double(1.0),
        }
        self.root_props = {
            'CanQuit': dbus.Boolean(can_quit), 'CanRaise': dbus.Boolean(False), 'HasTrackList': dbus.Boolean(False),
            'Identity': dbus.String('Fake ' + name), 'SupportedUriSchemes': dbus.Array([], signature='s'),
            'SupportedMimeTypes': dbus.Array([], signature='s'),
        }
        self.name = None
        if also_instance:
            # Taken first, so a helper sees the instance name before the plain one.
            self.instance_name = dbus.service.BusName(f'{ROOT}.{name}.instance{os.getpid()}', bus,
                                                      do_not_queue=True)
        self.take_name(name)

    def take_name(self, name):
        self.bus_name = dbus.service.BusName(f'{ROOT}.{name}', self.bus, do_not_queue=True)
        self.name = name

    def record(self, call, *args):
        self.log.write(json.dumps({'t': time.time(), 'player': self.name, 'call': call,
                                   'args': [a if isinstance(a, (int, float, str, bool)) else str(a)
                                            for a in args]}) + '\n')

    def record_event(self, event):
        self.log.write(json.dumps({'t': time.time(), 'player': self.name, 'event': event}) + '\n')

    def position(self):
        if self.status == 'Playing':
            return self.position_us + int((time.monotonic() - self.since) * 1e6)
        return self.position_us

    def set_position(self, us):
        self.position_us = max(0, us)
        self.since = time.monotonic()

    def player_props(self):
        d = dict(self.props)
        d['PlaybackStatus'] = dbus.String(self.status)
        d['Metadata'] = self.meta
        d['Position'] = dbus.Int64(self.position())
        return d

    def changed(self, **values):
        self.PropertiesChanged(PLAYER, values, [])

    def set_status(self, status):
        if status == self.status:
            return
        self.set_position(self.position())
        if status == 'Stopped':
            self.set_position(0)
        self.status = status
        self.changed(PlaybackStatus=dbus.String(status))

    def move(self, step):
        if not self.tracks:
            return
        self.index = (self.index + step) % len(self.tracks)
        self.meta = to_dbus_metadata(self.tracks[self.index], self.index)
        self.set_position(0)
        self.changed(Metadata=self.meta)

    def answer(self, reply, error, work):
        """Carries out `work` and answers with what it returns: at once, late
        when slow, or once no longer hung."""
        def run():
            try:
                result = work()
            except Exception as e:  # noqa: BLE001 - the caller gets it as a D-Bus error
                error(e)
                return False
            reply() if result is None else reply(result)
            return False
        if self.hung:
            self.held.append(run)
        elif self.slow:
            GLib.timeout_add(int(self.slow * 1000), run)
        else:
            run()

    def set_hung(self, hung):
        self.hung = hung
        if not hung:
            held, self.held = self.held, []
            for run in held:
                run()

    def quit(self):
        self.record('Quit')
        GLib.idle_add(loop.quit)

    def pause(self):
        self.record('Pause')
        if self.status == 'Playing':
            self.set_status('Paused')

    def seek(self, offset):
        self.record('Seek', int(offset))
        self.set_position(self.position() + int(offset))
        self.Seeked(dbus.Int64(self.position()))

    def set_position_call(self, track, position):
        self.record('SetPosition', str(track), int(position))
        self.set_position(int(position))
        self.Seeked(dbus.Int64(self.position()))

    def command(self, call, status=None, step=0):
        self.record(call)
        if status:
            self.set_status(status)
        if step:
            self.move(step)

    # org.mpris.MediaPlayer2
    @dbus.service.method(ROOT, async_callbacks=('reply', 'error'))
    def Raise(self, reply, error):
        self.answer(reply, error, lambda: self.record('Raise'))

    @dbus.service.method(ROOT, async_callbacks=('reply', 'error'))
    def Quit(self, reply, error):
        self.answer(reply, error, self.quit)

    # org.mpris.MediaPlayer2.Player
    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def Play(self, reply, error):
        self.answer(reply, error, lambda: self.command('Play', status='Playing'))

    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def Pause(self, reply, error):
        self.answer(reply, error, self.pause)

    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def PlayPause(self, reply, error):
        self.answer(reply, error, lambda: self.command(
            'PlayPause', status='Paused' if self.status == 'Playing' else 'Playing'))

    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def Stop(self, reply, error):
        self.answer(reply, error, lambda: self.command('Stop', status='Stopped'))

    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def Next(self, reply, error):
        self.answer(reply, error, lambda: self.command('Next', step=1))

    @dbus.service.method(PLAYER, async_callbacks=('reply', 'error'))
    def Previous(self, reply, error):
        self.answer(reply, error, lambda: self.command('Previous', step=-1))

    @dbus.service.method(PLAYER, in_signature='x', async_callbacks=('reply', 'error'))
    def Seek(self, offset, reply, error):
        self.answer(reply, error, lambda: self.seek(offset))

    @dbus.service.method(PLAYER, in_signature='ox', async_callbacks=('reply', 'error'))
    def SetPosition(self, track, position, reply, error):
        self.answer(reply, error, lambda: self.set_position_call(track, position))

    @dbus.service.method(PLAYER, in_signature='s', async_callbacks=('reply', 'error'))
    def OpenUri(self, uri, reply, error):
        self.answer(reply, error, lambda: self.record('OpenUri', str(uri)))

    @dbus.service.signal(PLAYER, signature='x')
    def Seeked(self, position):
        pass

    # org.freedesktop.DBus.Properties
    def all_props(self, interface):
        if interface == PLAYER:
            return self.player_props()
        if interface == ROOT:
            return self.root_props
        return {}

    def set_prop(self, interface, prop, value):
        value = bool(value) if isinstance(value, dbus.Boolean) else float(value) if isinstance(
            value, dbus.Double) else str(value)
        self.record('Set', prop, value)
        if interface == PLAYER and prop in ('Volume', 'Shuffle', 'Rate', 'LoopStatus'):
            self.props[prop] = self.props[prop].__class__(value)
            self.changed(**{prop: self.props[prop]})

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v', async_callbacks=('reply', 'error'))
    def Get(self, interface, prop, reply, error):
        self.answer(reply, error, lambda: self.all_props(interface)[prop])

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}', async_callbacks=('reply', 'error'))
    def GetAll(self, interface, reply, error):
        self.answer(reply, error, lambda: dbus.Dictionary(self.all_props(interface), signature='sv'))

    @dbus.service.method(PROPS, in_signature='ssv', async_callbacks=('reply', 'error'))
    def Set(self, interface, prop, value, reply, error):
        self.answer(reply, error, lambda: self.set_prop(interface, prop, value))

    @dbus.service.signal(PROPS, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Commands:
    """Lines from standard input, read straight from the descriptor: a
    buffered reader would keep a second line that came with the first
    where the main loop cannot see it."""

    def __init__(self, player):
        self.player = player
        self.pending = b''

    def on_input(self, fd, condition):
        data = os.read(fd, 65536)
        if not data:
            loop.quit()
            return False
        self.pending += data
        while b'\n' in self.pending:
            line, self.pending = self.pending.split(b'\n', 1)
            if not self.run(line.decode()):
                return False
        return True

    def run(self, line):
        player = self.player
        try:
            command = json.loads(line)
        except ValueError:
            print(f'fake_player: not JSON: {line!r}', file=sys.stderr)
            return True
        if 'metadata' in command:
            player.meta = to_dbus_metadata(command['metadata'], 100 + player.index)
            player.set_position(0)
            player.changed(Metadata=player.meta)
            player.record_event('metadata')
        if 'status' in command:
            player.set_status(command['status'])
        if 'position' in command:
            player.set_position(int(command['position']))
            player.Seeked(dbus.Int64(player.position()))
        if 'rename' in command:
            player.bus.release_name(f'{ROOT}.{player.name}')
            del player.bus_name
            player.take_name(command['rename'])
        if 'hang' in command:
            player.set_hung(bool(command['hang']))
        if 'slow' in command:
            player.slow = float(command['slow'])
        if command.get('quit'):
            loop.quit()
            return False
        return True


def main():
    global loop
    parser = argparse.ArgumentParser()
    parser.add_argument('name')
    parser.add_argument('log')
    parser.add_argument('--tracks')
    parser.add_argument('--no-quit', action='store_true')
    parser.add_argument('--no-next', action='store_true')
    parser.add_argument('--also-instance', action='store_true')
    parser.add_argument('--hung', action='store_true')
    parser.add_argument('--slow', type=float, default=0.0)
    args = parser.parse_args()
    tracks = json.loads(args.tracks) if args.tracks else DEFAULT_TRACKS
    DBusGMainLoop(set_as_default=True)
    loop = GLib.MainLoop()
    player = FakePlayer(dbus.SessionBus(), args.name, args.log, tracks, not args.no_quit, not args.no_next,
                        hung=args.hung, slow=args.slow, also_instance=args.also_instance)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, Commands(player).on_input)
    print('ready', flush=True)
    loop.run()


loop = None

if __name__ == '__main__':
    main()
