#!/usr/bin/env bash
# Creates a Wine prefix for this build and sets what the programs and tests
# rely on. Usage: init-prefix.sh PREFIX
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
mkdir -p "$prefix"
rm -f "$prefix/.nightjar-ready"
wineboot --init >/dev/null 2>&1 || true

# Without a window manager Wine waits on every hide or destroy of a managed
# window; unmanaged windows need no such wait.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# No COM port may reach a real serial device: Wine maps the /dev/ttyS* that
# exist at every session start unless the registry names the device.
for n in 1 2 3 4 5 6 7 8; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d '' /f >/dev/null 2>&1
done
wineserver -w
rm -f "$prefix"/dosdevices/com*
touch "$prefix/.nightjar-ready"
