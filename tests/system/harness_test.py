#!/usr/bin/env python3
"""The harness's own logic, without Wine: the shared Wine environment as
each reader sees it, the polling filter, window placement and the choice
of window mode (against stand-ins for xprop, wine and wineserver)."""
import os
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
LIB = os.path.join(HERE, '..', '..', 'scripts', 'lib')
sys.path.insert(0, LIB)

from njharness import is_polling, run_tests, wine_env  # noqa: E402
from njharness import layout  # noqa: E402
from njharness.system import player_line  # noqa: E402
from njharness.wine import wine_values  # noqa: E402


class WineEnvironment(unittest.TestCase):
    def test_shell_and_python_read_the_same_values(self):
        script = f'. {LIB}/wine-env.sh && nj_wine_lines /b/win /b/native'
        shell = subprocess.run(['bash', '-c', script], capture_output=True, text=True, check=True).stdout
        from_shell = dict(line.split('=', 1) for line in shell.splitlines())
        self.assertEqual(from_shell, wine_values('/b/win', '/b/native'))

    def test_folders_are_filled_in_and_the_loader_keeps_its_lib(self):
        values = wine_values('/b/win', '/b/native')
        self.assertEqual(values['WINEPREFIX'], '/b/win/wineprefix')
        self.assertEqual(values['WINEDLLOVERRIDES'], 'mscoree,mshtml=')
        self.assertEqual(values['NJ_CABLE_LIB'], '/b/native/sim/vcable/$LIB/libnjcable.so')
        self.assertFalse(any('{' in v for v in values.values()))

    def test_the_native_folder_follows_the_caller_or_sits_beside_the_build(self):
        self.assertEqual(wine_env('/b/win', {})['NJ_NATIVE_DIR'], '/b/native')
        self.assertEqual(wine_env('/b/win', {'NJ_NATIVE_DIR': '/n'})['NJ_CABLE_LIB'],
                         '/n/sim/vcable/$LIB/libnjcable.so')

    @unittest.skipUnless(os.environ.get('NJ_WINE_TEST_ENV'), 'run by ctest, with the environment of a Wine test')
    def test_cmake_gives_the_tests_the_same_values(self):
        win = os.path.dirname(os.environ['WINEPREFIX'])
        want = wine_values(win, os.environ['NJ_NATIVE_DIR'])
        self.assertEqual({k: os.environ.get(k) for k in want}, want)
        self.assertEqual(os.environ['LD_PRELOAD'], want['NJ_CABLE_LIB'])

    def test_shell_exports_values_as_they_stand(self):
        script = f'. {LIB}/wine-env.sh && nj_wine_env /b/win /b/native && echo "$NJ_CABLE_LIB|$WINEDEBUG"'
        out = subprocess.run(['bash', '-c', script], capture_output=True, text=True, check=True).stdout
        self.assertEqual(out.strip(), '/b/native/sim/vcable/$LIB/libnjcable.so|-all')


class PlayerLog(unittest.TestCase):
    def test_only_the_polling_queries_are_left_out(self):
        for line in ('WM_USER 0 104', 'WM_USER 0 105', 'WM_USER 1 105', 'WM_USER 2 126',
                     'WM_USER 0 104 @1700000000.000001'):
            self.assertTrue(is_polling(line), line)
            self.assertIsNone(player_line(line))
        # Clearing the playlist is a command, however much it looks like a query.
        for line in ('WM_USER 0 101', 'WM_USER 0 10', 'WM_COMMAND 40045 0', 'WM_CLOSE 0 0', ''):
            self.assertFalse(is_polling(line), line)
        self.assertEqual(player_line('WM_COMMAND 40048 0'), 'player: WM_COMMAND 40048 0 (next track)')


class Placement(unittest.TestCase):
    NIGHTJAR = (315, 135)
    CALCULATOR = (266, 330)
    PLAYER = (446, 196)

    def test_the_layout_covers_nothing(self):
        rects = {
            'nightjar': (*layout.NIGHTJAR_AT, *self.NIGHTJAR),
            'calculator': (*layout.CALCULATOR_AT, *self.CALCULATOR),
            'player': (*layout.player_at(self.CALCULATOR[0]), *self.PLAYER),
            'tray': (*layout.tray_at((1280, 800), (200, 40)), 200, 40),
        }
        self.assertEqual(layout.covered(rects), [])
        self.assertLessEqual(rects['player'][0] + self.PLAYER[0], 1280)

    def test_nightjar_where_wine_puts_it_covers_nothing_either(self):
        rects = {'nightjar': (0, 0, *self.NIGHTJAR), 'calculator': (*layout.CALCULATOR_AT, *self.CALCULATOR)}
        self.assertEqual(layout.covered(rects), [])

    def test_overlap_and_touching(self):
        self.assertEqual(layout.covered({'a': (0, 0, 10, 10), 'b': (9, 9, 5, 5), 'c': (20, 0, 5, 5)}), [('a', 'b')])
        self.assertEqual(layout.covered({'a': (0, 0, 10, 10), 'b': (10, 0, 5, 5)}), [])

    def test_rectangles_and_bounds(self):
        self.assertEqual(layout.parse_rect('1 2 3 4'), (1, 2, 3, 4))
        self.assertIsNone(layout.parse_rect(''))
        self.assertIsNone(layout.parse_rect('no such window'))
        self.assertEqual(layout.bounds([(5, 20, 10, 10), (30, 40, 10, 10)]), (0, 10, 50, 50))


STANDINS = {
    # xprop: the root window names $WM_ID; the window $WM_ID names $WM_SELF.
    'xprop': '''
        if [ "$1" = -root ]; then [ -n "$WM_ID" ] && echo "_NET_SUPPORTING_WM_CHECK: window id # $WM_ID"
        else [ -n "$WM_SELF" ] && echo "_NET_SUPPORTING_WM_CHECK: window id # $WM_SELF"; fi; exit 0''',
    'wine': '''
        echo "wine $*" >>"$CALLS"
        if [ "$2" = query ]; then printf '\\r\\n    Managed    REG_SZ    %s\\r\\n' "$MANAGED"; fi''',
    'wineserver': 'echo "wineserver $*" >>"$CALLS"',
}


class WindowMode(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.dir.name, 'bin')
        os.mkdir(self.bin)
        for name, body in STANDINS.items():
            path = os.path.join(self.bin, name)
            with open(path, 'w') as f:
                f.write('#!/bin/bash\n' + textwrap.dedent(body).strip() + '\n')
            os.chmod(path, stat.S_IRWXU)
        self.calls = os.path.join(self.dir.name, 'calls')

    def tearDown(self):
        self.dir.cleanup()

    def mode(self, arg, managed='N', wm_id='', wm_self=''):
        env = dict(os.environ, PATH=f'{self.bin}:{os.environ["PATH"]}', WINEPREFIX=self.dir.name,
                   CALLS=self.calls, MANAGED=managed, WM_ID=wm_id, WM_SELF=wm_self)
        open(self.calls, 'w').close()
        out = subprocess.run([os.path.join(LIB, 'window-mode.sh'), arg], env=env, capture_output=True, text=True,
                             timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(self.calls) as f:
            return out.stdout.strip(), [c for c in f.read().splitlines() if 'query' not in c]

    def test_a_running_window_manager_gets_managed_windows(self):
        mode, calls = self.mode('auto', wm_id='0x400001', wm_self='0x400001')
        self.assertEqual(mode, 'managed')
        self.assertIn('/d Y', calls[0])
        self.assertIn('wineserver -k 15', calls)  # saved before anything starts

    def test_no_window_manager_or_one_that_has_ended_gets_unmanaged_windows(self):
        for wm_id, wm_self in (('', ''), ('0x400001', ''), ('0x400001', '0x500002'), ('0x40000', '0x400001')):
            self.assertEqual(self.mode('auto', managed='Y', wm_id=wm_id, wm_self=wm_self)[0], 'unmanaged')

    def test_a_setting_already_right_is_left_alone(self):
        self.assertEqual(self.mode('unmanaged', managed='N'), ('unmanaged', []))
        mode, calls = self.mode('unmanaged', managed='Y')
        self.assertIn('/d N', calls[0])

    def test_a_wrong_mode_is_refused(self):
        env = dict(os.environ, WINEPREFIX=self.dir.name)
        out = subprocess.run([os.path.join(LIB, 'window-mode.sh'), 'sometimes'], env=env, capture_output=True,
                             text=True, timeout=30)
        self.assertEqual(out.returncode, 1)
        self.assertIn('usage', out.stderr)


class Runner(unittest.TestCase):
    def test_a_test_name_that_does_not_exist_fails_the_run(self):
        self.assertEqual(run_tests({'test_a': lambda build: None}, '/b', ['test_b']), 1)
        self.assertEqual(run_tests({'test_a': lambda build: None}, '/b', ['test_a']), 0)


if __name__ == '__main__':
    unittest.main()
