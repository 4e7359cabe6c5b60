#!/usr/bin/env python3
"""The whole system on one display: Nightjar.exe on COM1, calcsim.exe on COM2,
the two joined by the virtual cable, plavoxsim.exe as the media player.

    session.py BUILD_WIN_DIR --demo [--screenshot PNG]
        plays a short scripted session, printing what happens at each end as
        it happens; exits 0 when every step behaved, 1 otherwise; without a
        window manager the windows are placed side by side and checked to
        cover none of each other
    session.py BUILD_WIN_DIR --interactive
        starts everything and waits for the user to close Nightjar; windows
        are left to the window manager when one runs
    session.py BUILD_WIN_DIR --hardware
        Nightjar and the player only, for a real calculator on a port mapped
        with scripts/map-port.sh, without the cable

Every wait is bounded; at the end the programs are closed, the cable taken
down and the prefix's wineserver stopped.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))

from njharness import Failure  # noqa: E402
from njharness.session import demo, hardware, interactive  # noqa: E402


def main():
    if len(sys.argv) < 3 or sys.argv[2] not in ('--demo', '--interactive', '--hardware'):
        print(__doc__, file=sys.stderr)
        return 2
    build = os.path.abspath(sys.argv[1])
    try:
        if sys.argv[2] == '--interactive':
            return interactive(build)
        if sys.argv[2] == '--hardware':
            return hardware(build)
        shot = sys.argv[4] if sys.argv[3:4] == ['--screenshot'] and len(sys.argv) > 4 else None
        return demo(build, shot, windows='auto')
    except (Failure, subprocess.SubprocessError, OSError) as e:
        print(f'session failed: {e}', flush=True)
        return 1
    except KeyboardInterrupt:
        print('session interrupted; everything it started has been stopped', flush=True)
        return 130


if __name__ == '__main__':
    sys.exit(main())
