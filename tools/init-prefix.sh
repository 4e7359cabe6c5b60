#!/usr/bin/env bash
# Creates a Wine prefix for this build and sets what the programs and tests
# rely on. Usage: init-prefix.sh PREFIX
set -euo pipefail
lib=$(cd "$(dirname "$0")/../scripts/lib" && pwd)
prefix=$(realpath -m "$1")
# shellcheck source=../scripts/lib/wine-env.sh
. "$lib/wine-env.sh"
nj_wine_env "$(dirname "$prefix")" ""
export WINEPREFIX=$prefix
mkdir -p "$prefix"
rm -f "$prefix/.nightjar-ready"
wineboot --init >/dev/null 2>&1 || true

# The tests run without a window manager (./run sets its own mode and puts
# this one back).
"$lib/window-mode.sh" unmanaged >/dev/null
# No COM port may reach a real serial device: at every session start Wine
# maps each /dev/ttyS* that exists to the first COM number the registry does
# not name, so every number it reads (1 to 255) is named, with no device.
# COM256 cannot be named and may still reach one: the cable's preload
# library refuses real devices for every process it is loaded into.
ports_reg=$(mktemp --suffix=.reg)
{
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 255); do printf '"COM%d"=""\n' "$n"; done
} >"$ports_reg"
wine regedit /S "Z:$ports_reg" >/dev/null 2>&1
rm -f "$ports_reg"
wineserver -w
rm -f "$prefix"/dosdevices/com*
touch "$prefix/.nightjar-ready"
