# shellcheck shell=bash
# Shell functions for mapping COM ports of the Wine prefix in $WINEPREFIX.
# Sourced by sim/vcable/cable.sh and scripts/map-port.sh; the caller defines
# die().
#
# Wine rebuilds dosdevices/comN from HKLM\Software\Wine\Ports at every session
# start, so a mapping goes into that key (an empty value keeps the port away
# from whatever /dev/ttyS* exist) as well as into the symlink, and takes
# effect for the next session: restart the prefix's wineserver around it.

# port_number ARG MAX: the number of COMn, comn or n, checked to be 1..MAX.
port_number() {
    local n=${1#COM}
    n=${n#com}
    [[ $n =~ ^[1-9]$ ]] && [ "$n" -le "$2" ] || die "not a COM port from COM1 to COM$2: $1"
    echo "$n"
}

# SIGTERM: the server saves the registry before it goes.
stop_session() {
    wineserver -k 15 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# map_port N DEVICE-OR-EMPTY: COMn reaches DEVICE, or nothing when empty.
map_port() {
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1 ||
        die "could not set COM$1 in the registry"
    if [ -n "$2" ]; then
        ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
    else
        rm -f "$WINEPREFIX/dosdevices/com$1"
    fi
}
