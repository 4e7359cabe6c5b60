#!/usr/bin/env bash
# Joins two COM ports of a Wine prefix with a virtual null-modem cable.
#
#   cable.sh up DIR COMx COMy      start a cable (state in DIR) and map the two
#                                  ports of $WINEPREFIX to its ends; writes
#                                  DIR/env to source before running programs
#   cable.sh down DIR              unmap the ports, stop the cable and the
#                                  prefix's wineserver, remove DIR
#   cable.sh run COMx COMy -- CMD  up, CMD with the cable's environment, down
#                                  (also on failure); exits with CMD's status
#
# Ports are given as 1..8 or COM1..COM8. Every Wine process that uses the
# cable needs LD_PRELOAD and NJ_CABLE_STATE from DIR/env, the prefix's
# wineserver included: that is why up and down restart it. The preload
# library also refuses real serial devices (/dev/ttyS*, ttyUSB*, ttyACM*), so
# nothing run this way can reach the machine's own ports.
#
# Finds njcable and libnjcable.so in $NJ_NATIVE_DIR (default: build/native of
# this tree). With NJ_CABLE_PARENT=PID the cable also ends when PID does.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
native=${NJ_NATIVE_DIR:-$here/../../build/native}
native=$(cd "$native" && pwd)
njcable=$native/sim/vcable/njcable

die() { echo "cable.sh: $*" >&2; exit 1; }

# shellcheck source=../../scripts/lib/wine-env.sh
. "$here/../../scripts/lib/wine-env.sh"
preload=$(nj_wine_value NJ_CABLE_LIB "" "$native")

# shellcheck source=../../scripts/lib/wine-ports.sh
. "$here/../../scripts/lib/wine-ports.sh"

need_prefix() {
    [ -n "${WINEPREFIX:-}" ] || die "WINEPREFIX is not set"
    [ -d "$WINEPREFIX/dosdevices" ] || die "no Wine prefix at $WINEPREFIX"
}

cable_up() {
    local dir=$1 a b
    a=$(port_number "$2" 8)
    b=$(port_number "$3" 8)
    [ "$a" != "$b" ] || die "both ends on COM$a"
    need_prefix
    [ -x "$njcable" ] || die "no $njcable (build the native tree first)"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [ ! -e "$dir/state" ] || die "a cable is already up in $dir"

    local parent=()
    [ -n "${NJ_CABLE_PARENT:-}" ] && parent=(--parent "$NJ_CABLE_PARENT")
    local out
    out=$("$njcable" --daemon "${parent[@]}" "$dir/state") || die "njcable failed"
    local ends
    mapfile -t ends <<<"$out"
    echo "${ends[2]}" >"$dir/pid"
    printf '%s\n' "$a" "$b" >"$dir/ports"

    local state_list="$dir/state${NJ_CABLE_STATE:+:$NJ_CABLE_STATE}"
    local preload_list=$preload
    case "${LD_PRELOAD:-}" in
    *libnjcable.so*) preload_list=$LD_PRELOAD ;;
    ?*) preload_list="$preload ${LD_PRELOAD}" ;;
    esac
    {
        printf "export LD_PRELOAD='%s'\n" "$preload_list"
        printf "export NJ_CABLE_STATE='%s'\n" "$state_list"
    } >"$dir/env"

    stop_session
    (
        # shellcheck source=/dev/null
        . "$dir/env"
        map_port "$a" "${ends[0]}"
        map_port "$b" "${ends[1]}"
        stop_session
    )
    echo "COM$a=${ends[0]} COM$b=${ends[1]}"
}

cable_down() {
    local dir=$1
    [ -d "$dir" ] || return 0
    need_prefix
    stop_session
    if [ -f "$dir/ports" ]; then
        local n
        while read -r n; do
            map_port "$n" ""
        done <"$dir/ports"
        stop_session
    fi
    if [ -f "$dir/pid" ]; then
        local pid
        pid=$(cat "$dir/pid")
        if kill "$pid" 2>/dev/null; then
            for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
            kill -9 "$pid" 2>/dev/null || true
        fi
    fi
    rm -rf "$dir"
}

run_dir=
cable_run() {
    local a=$1 b=$2
    shift 2
    [ "${1:-}" = "--" ] && shift
    [ $# -gt 0 ] || die "run: no command"
    run_dir=$(mktemp -d /tmp/njcable.XXXXXX)
    trap 'cable_down "$run_dir"' EXIT
    trap 'exit 130' INT TERM
    NJ_CABLE_PARENT=${NJ_CABLE_PARENT:-$$} cable_up "$run_dir" "$a" "$b" >/dev/null
    local status=0
    # shellcheck source=/dev/null
    (. "$run_dir/env" && "$@") || status=$?
    return $status
}

case "${1:-}" in
up) [ $# -eq 4 ] || die "usage: cable.sh up DIR COMx COMy"; cable_up "$2" "$3" "$4" ;;
down) [ $# -eq 2 ] || die "usage: cable.sh down DIR"; cable_down "$2" ;;
run) [ $# -ge 4 ] || die "usage: cable.sh run COMx COMy -- CMD..."; shift; cable_run "$@" ;;
*) die "usage: cable.sh up DIR COMx COMy | down DIR | run COMx COMy -- CMD..." ;;
esac
