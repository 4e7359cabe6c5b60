#!/usr/bin/env python3
"""The installer end to end, in a fresh Wine prefix of its own:

  - for every user (/S /ALLUSERS): files, shortcut, registration and the
    Apps & features entry are there; Nightjar started from the installed
    folder, with the cable, the player simulator and a calculator end, sends
    the calculator the track and hands the player a key; the entry's quiet
    uninstall leaves no file, shortcut, registration, type library or key;
  - for the current user (/S): the same files, everything registered under
    the user's keys and nothing machine-wide, and again nothing left after;
  - the zip holds exactly the installed files.

    install_test.py BUILD_DIR SETUP.EXE ARCHIVE.ZIP
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(TOP, 'scripts', 'lib'))
from njharness import Failure, NIGHTJAR, PLAVOX, Rig, eventually, expect, wine_env  # noqa: E402
from njharness import player_window as pw  # noqa: E402

SHIPPED = ('Nightjar.exe', 'Plavox.ocx', 'README.txt', 'NIGHTJAR.8xp')
INSTALLED = SHIPPED + ('Uninstall.exe',)
ALL_USERS_DIR = r'C:\Program Files\Nightjar'
# What in the registry can only be ours: the ProgID and library name, the
# control's file, the uninstall entry.
OUR_TEXT = ('Quillon', 'Plavox.ocx', 'Uninstall\\\\Nightjar')
GUID = re.compile(r'\{[0-9A-Fa-f-]{36}\}')


class Prefix:
    def __init__(self, build, path):
        self.path = path
        # No menu entries on this machine's desktop for the shortcut made in the prefix.
        self.env = dict(wine_env(build), WINEPREFIX=path)
        self.env['WINEDLLOVERRIDES'] += ';winemenubuilder.exe=d'

    def create(self):
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run([os.path.join(TOP, 'tools', 'init-prefix.sh'), self.path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, timeout=300)

    def run(self, *args, timeout=120):
        """Runs a Windows program and waits for everything it started."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(['wine', *args], env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                  timeout=timeout).returncode
        self.settle()
        return code

    def settle(self):
        # The uninstaller runs on from a copy of itself; the registry reaches
        # its files when the server ends.
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=120)

    def unix(self, windows_path):
        drive, rest = windows_path.split(':', 1)
        expect(drive.upper() == 'C', f'not on drive C: {windows_path}')
        return os.path.join(self.path, 'drive_c', *[p for p in rest.split('\\') if p])

    def files_named(self, names):
        found = []
        for root, dirs, files in os.walk(os.path.join(self.path, 'drive_c')):
            found += [os.path.join(root, f) for f in files if f in names]
        return found

    def registry(self, hive):
        with open(os.path.join(self.path, hive + '.reg'), encoding='utf-8', errors='replace') as f:
            return f.read()

    def our_sections(self, hive):
        """The registry keys of a hive that mention us, by name."""
        sections = re.split(r'\n(?=\[)', self.registry(hive))
        return [s.split('\n', 1)[0] for s in sections if any(t in s for t in OUR_TEXT) or 'Plavox' in s]

    def value(self, hive, key, name):
        for section in re.split(r'\n(?=\[)', self.registry(hive)):
            if section.lower().startswith('[' + key.replace('\\', '\\\\').lower() + ']'):
                m = re.search(r'^"' + re.escape(name) + r'"="(.*)"$', section, re.M)
                if m:
                    return m.group(1).replace('\\"', '"').replace('\\\\', '\\')
        return None


UNINSTALL_KEY = r'Software\Microsoft\Windows\CurrentVersion\Uninstall\Nightjar'


def check_installed(prefix, folder, hive, other_hive):
    for name in INSTALLED:
        expect(os.path.isfile(os.path.join(prefix.unix(folder), name)), f'{name} is not in {folder}')
    expect(prefix.files_named({'Nightjar.lnk'}), 'no Start-menu shortcut')
    sections = prefix.our_sections(hive)
    inproc = [s for s in sections if 'inprocserver32' in s.lower()]
    expect(len(inproc) == 2, f'{hive}: expected both classes registered, got {inproc}')
    expect(any('typelib' in s.lower() for s in sections), f'{hive}: no type library registered')
    expect(prefix.value(hive, UNINSTALL_KEY, 'DisplayName') == 'Nightjar', f'{hive}: no Apps & features entry')
    expect(not prefix.our_sections(other_hive), f'{other_hive} was written: {prefix.our_sections(other_hive)}')
    return [g for s in sections for g in GUID.findall(s)]


def check_removed(prefix, folder, guids):
    left = prefix.files_named(set(INSTALLED) | {'Nightjar.lnk'})
    expect(not left, f'files left behind: {left}')
    expect(not os.path.exists(prefix.unix(folder)), f'{folder} is still there')
    for hive in ('system', 'user'):
        expect(not prefix.our_sections(hive), f'{hive}: keys left behind: {prefix.our_sections(hive)}')
        text = prefix.registry(hive)
        expect(not [g for g in set(guids) if g in text], f'{hive}: our identifiers are still registered')


def uninstall_as_the_entry_says(prefix, hive):
    command = prefix.value(hive, UNINSTALL_KEY, 'QuietUninstallString')
    m = re.match(r'^"([^"]+)"(.*)$', command or '')
    expect(m, f'no usable QuietUninstallString: {command!r}')
    expect(prefix.run(m.group(1), *m.group(2).split()) == 0, 'the uninstaller failed')


class InstalledRig(Rig):
    """The harness with Nightjar and Plavox taken from the installed folder."""

    def __init__(self, build, prefix, folder):
        super().__init__(build)
        self.env['WINEPREFIX'] = prefix.path
        self.folder = folder

    def exe(self, *parts):
        if parts == NIGHTJAR:
            return self.folder + r'\Nightjar.exe'
        if parts == PLAVOX:
            return self.folder + r'\Plavox.ocx'  # registered again where it is: no change
        return super().exe(*parts)



def run_a_session(build, prefix, folder):
    with InstalledRig(build, prefix, folder) as rig:
        rig.start_player()
        rig.start_nightjar()
        rig.choose_port(rig.nightjar_port)
        expect(rig.probe('wait', 'Nightjar', '20', check=False) == '', 'no main window')
        first = list(b'The Lantern Moths\0Cold Harbour\0\2')
        expect(rig.receive(len(first), timeout=20) == first, 'the calculator did not get the track')
        before = len(rig.player_commands())
        expect(rig.calculator('send', '2').returncode == 0, 'the key did not get through')
        expect(eventually(lambda: pw.command_line(pw.SKIP_BACK) in rig.player_commands()[before:]),
               f'the player did not get the key: {rig.player_commands()[before:]}')
        rig.probe('close', 'Nightjar')
        expect(rig.wait_exit(15), 'Nightjar did not end')
    prefix.settle()


def check_zip_matches(prefix, folder, archive):
    with zipfile.ZipFile(archive) as z:
        expect(sorted(z.namelist()) == sorted(SHIPPED), f'the zip holds {z.namelist()}')
        for name in SHIPPED:
            with open(os.path.join(prefix.unix(folder), name), 'rb') as f:
                expect(z.read(name) == f.read(), f'{name} differs between the zip and the installer')


def main():
    build, setup, archive = (os.path.abspath(a) for a in sys.argv[1:4])
    subprocess.run(['cmake', '--build', build, '--target', 'dist'], check=True, stdout=subprocess.DEVNULL,
                   timeout=300)
    prefix = Prefix(build, os.path.join(build, 'tests', 'install', 'prefix'))
    prefix.create()

    expect(prefix.run(setup, '/S', '/ALLUSERS') == 0, 'the all-users install failed')
    guids = check_installed(prefix, ALL_USERS_DIR, 'system', 'user')
    check_zip_matches(prefix, ALL_USERS_DIR, archive)
    print('ok: installed for every user', flush=True)
    run_a_session(build, prefix, ALL_USERS_DIR)
    print('ok: a key and a track through the installed Nightjar', flush=True)
    uninstall_as_the_entry_says(prefix, 'system')
    check_removed(prefix, ALL_USERS_DIR, guids)
    print('ok: uninstalled for every user, nothing left', flush=True)

    expect(prefix.run(setup, '/S') == 0, 'the per-user install failed')
    users = glob.glob(os.path.join(prefix.path, 'drive_c', 'users', '*', 'AppData', 'Local', 'Programs', 'Nightjar'))
    expect(len(users) == 1, f'no per-user folder: {users}')
    user_dir = 'C:\\' + os.path.relpath(users[0], os.path.join(prefix.path, 'drive_c')).replace('/', '\\')
    guids = check_installed(prefix, user_dir, 'user', 'system')
    expect(prefix.value('user', UNINSTALL_KEY, 'QuietUninstallString').endswith('/S'), 'wrong uninstall command')
    print('ok: installed for the current user', flush=True)
    uninstall_as_the_entry_says(prefix, 'user')
    check_removed(prefix, user_dir, guids)
    print('ok: uninstalled for the current user, nothing left', flush=True)

    shutil.rmtree(prefix.path, ignore_errors=True)
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Failure as e:
        print(f'FAIL: {e}', flush=True)
        sys.exit(1)
