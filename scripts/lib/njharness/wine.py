"""The Wine side of the harness: the environment of wine.env, the window
mode of the prefix, the paths of the programs in a Windows build."""
import os
import subprocess

LIB = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOP = os.path.dirname(os.path.dirname(LIB))
CABLE = os.path.join(TOP, 'sim', 'vcable', 'cable.sh')
WINDOW_MODE = os.path.join(LIB, 'window-mode.sh')
I386 = os.path.join(LIB, 'i386-emulation.sh')

# Programs of a Windows build, relative to its folder.
NIGHTJAR = ('controller', 'app', 'Nightjar.exe')
CALCSIM = ('sim', 'calcsim', 'calcsim.exe')
LINKCAT = ('sim', 'linkcat', 'linkcat.exe')
PLAYER = ('sim', 'plavoxsim', 'plavoxsim.exe')
PROBE = ('tools', 'njprobe.exe')
RELTOOL = ('tools', 'reltool.exe')
PLAVOX = ('playerctl', 'Plavox.ocx')


def wine_values(win, native):
    """The variables of wine.env for the Windows build `win` and the native build `native`."""
    values = {}
    with open(os.path.join(LIB, 'wine.env'), encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            name, sep, value = line.partition('=')
            if line.startswith('#') or not sep or not name.replace('_', '').isalnum():
                continue
            values[name] = value.replace('{win}', win).replace('{native}', native)
    return values


def native_of(win, environ=os.environ):
    return environ.get('NJ_NATIVE_DIR') or os.path.join(os.path.dirname(win), 'native')


def wine_env(win, environ=os.environ):
    """os.environ (or `environ`) with the Wine environment of the build `win`."""
    win = os.path.abspath(win)
    return dict(environ, **wine_values(win, os.path.abspath(native_of(win, environ))))


def i386_mode():
    """How Wine's 32-bit side runs here: 'native' or 'emulated (qemu-i386 VERSION)'."""
    return subprocess.run([I386, 'mode'], capture_output=True, text=True, timeout=30).stdout.strip() or 'unknown'


def i386_line():
    """The first line of every benchmark: emulated figures are not comparable with native ones."""
    mode = i386_mode()
    note = '' if mode == 'native' else ': figures not comparable with native ones'
    return f"Wine's 32-bit side: {mode}{note}"


def set_window_mode(env, mode):
    """Sets the prefix of `env` to managed, unmanaged or (auto) whichever the
    display of `env` wants; returns the mode set."""
    r = subprocess.run([WINDOW_MODE, mode], env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                       timeout=60)
    if r.returncode != 0:
        raise OSError(f'window-mode.sh {mode} failed: {r.stderr.strip()}')
    return r.stdout.strip()


def in_cable(ports, argv):
    """`argv` run inside a virtual cable of its own joining the two COM port numbers."""
    return [CABLE, 'run', str(ports[0]), str(ports[1]), '--', *argv]
