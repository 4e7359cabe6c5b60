"""The harness that runs Nightjar and its stand-ins under Wine: the tests,
./run and the benchmarks all drive the programs through it."""
from .checks import Failure, eventually, expect, run_tests
from .rig import CHOOSER, FIRST, MAIN, PLAYER_CLASS, Rig, announcement, is_polling, track_of
from .wine import NIGHTJAR, PLAVOX, PROBE, RELTOOL, i386_line, in_cable, set_window_mode, wine_env

__all__ = ['CHOOSER', 'FIRST', 'MAIN', 'PLAYER_CLASS', 'Failure', 'Rig', 'announcement', 'eventually', 'expect',
           'i386_line', 'in_cable', 'is_polling', 'NIGHTJAR', 'PLAVOX', 'PROBE', 'RELTOOL', 'run_tests',
           'set_window_mode', 'track_of', 'wine_env']
