#!/usr/bin/env bash
# Joins a COM port of the project's Wine prefix to a real serial device, for
# a real calculator on a real link cable; then `./run --hardware`.
#
#   scripts/map-port.sh COM1 /dev/ttyUSB0   COM1 (1-4) reaches that device
#   scripts/map-port.sh --list              what COM1-COM4 reach now
#   scripts/map-port.sh --clear [COMn]      unmap one port, or all four
#   scripts/map-port.sh --cable             the same as --clear: back to the
#                                           virtual cable, which ./run maps
#                                           afresh at each start
#
# Wine rebuilds dosdevices/comN from HKLM\Software\Wine\Ports at every session
# start, so the mapping goes there (an empty value keeps a port away from
# whatever /dev/ttyS* exist) and into the symlink, and the prefix's wineserver
# is restarted. None of this runs with the cable's preload library, which
# refuses real devices. The prefix is $WINEPREFIX, by default build/win/wineprefix
# of this tree ($NJ_BUILD/win/wineprefix).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NJ_BUILD:-$top/build}
prefix=${WINEPREFIX:-}
# shellcheck source=lib/wine-env.sh
. "$top/scripts/lib/wine-env.sh"
nj_wine_env "$build/win" "$build/native"
export WINEPREFIX=${prefix:-$WINEPREFIX}
unset LD_PRELOAD NJ_CABLE_STATE

die() { echo "map-port.sh: $*" >&2; exit 1; }
usage() { sed -n '5,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

# shellcheck source=lib/wine-ports.sh
. "$top/scripts/lib/wine-ports.sh"

[ -d "$WINEPREFIX/dosdevices" ] || die "no Wine prefix at $WINEPREFIX (run scripts/build.sh first)"

list() {
    local n target
    for n in 1 2 3 4; do
        target=$(readlink "$WINEPREFIX/dosdevices/com$n" 2>/dev/null || true)
        echo "COM$n ${target:-(nothing)}"
    done
}

case "${1:-}" in
--list)
    list
    ;;
--clear | --cable)
    ports=(1 2 3 4)
    [ $# -ge 2 ] && ports=("$(port_number "$2" 4)")
    stop_session
    for n in "${ports[@]}"; do map_port "$n" ""; done
    stop_session
    list
    ;;
COM* | com* | [1-4])
    [ $# -eq 2 ] || usage
    n=$(port_number "$1" 4)
    device=$2
    [[ $device == /dev/* ]] || die "not a device path: $device"
    [ -c "$device" ] || die "$device is not a character device (is the adapter plugged in?)"
    [ -r "$device" ] && [ -w "$device" ] || die "no read and write access to $device (group dialout?)"
    stop_session
    map_port "$n" "$device"
    stop_session
    echo "COM$n -> $device; now ./run --hardware and pick port $n"
    ;;
*)
    usage
    ;;
esac
