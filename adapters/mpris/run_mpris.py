#!/usr/bin/env python3
"""Starts Nightjar with the MPRIS bridge against the user's session bus
(see run-mpris) and waits until Nightjar is closed.

    run_mpris.py BUILD_WIN_DIR [--hardware] [--player NAME]
"""
import os
import secrets
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts', 'lib'))
from njharness import Failure, Rig  # noqa: E402
from njharness.mpris import helper_env, start_helper  # noqa: E402


def main():
    args = sys.argv[2:]
    hardware = '--hardware' in args
    player = args[args.index('--player') + 1] if '--player' in args and args.index('--player') + 1 < len(args) else ''
    build = os.path.abspath(sys.argv[1])
    token = secrets.token_hex(16)
    rig = Rig(build, nightjar_port=1, cable=not hardware)
    if hardware:
        rig.env.pop('LD_PRELOAD', None)  # the cable library would refuse the real serial devices
    with rig:
        rig.env['NJ_MPRIS_TOKEN'] = token
        helper, port = start_helper(os.path.abspath(rig.env['NJ_NATIVE_DIR']),
                                    dict(helper_env(os.environ), NJ_MPRIS_TOKEN=token),
                                    ['--player', player] if player else [])
        try:
            rig.start(rig.exe('adapters', 'mpris', 'bridge', 'nj-mpris-bridge.exe'), '--port', str(port))
            if not hardware:
                rig.start(rig.exe('sim', 'calcsim', 'calcsim.exe'), '--port', str(rig.calculator_port),
                          '--at', '20', '20')
                rig.probe('wait', 'Calculator', '20')
            rig.nightjar = rig.start(rig.exe('controller', 'app', 'Nightjar.exe'))
            rig.probe('wait', 'Set Link Port:', '20')
            if hardware:
                print('Pick the port your calculator is on (see scripts/map-port.sh --list).', flush=True)
            else:
                print('Pick port 1 in Nightjar\'s chooser; the calculator simulator is on COM2.', flush=True)
            print('The bridge follows the MPRIS player that played last. Close Nightjar to end.', flush=True)
            rig.nightjar.wait()
        finally:
            helper.terminate()
            helper.wait(timeout=15)
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (Failure, subprocess.SubprocessError, OSError) as e:
        print(f'run: {e}', file=sys.stderr)
        sys.exit(1)
