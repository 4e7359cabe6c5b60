#!/usr/bin/env bash
# The Debian package as a user meets it: built, installed with apt-get, run
# by a throwaway ordinary user (--version, --list-devices, and one short
# session on the virtual cable with an MPRIS player on the user's own
# session bus), removed, and nothing of it left. Everything
# it changes on the machine is undone by a trap, whatever happens.
#
#   package_test.sh NATIVE_BUILD_DIR        as root (skips otherwise, status 77)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "${1:?usage: package_test.sh NATIVE_BUILD_DIR}" && pwd)
[ "$(id -u)" = 0 ] || { echo "package_test.sh: needs root (apt-get install); skipped"; exit 77; }
command -v apt-get >/dev/null || { echo "package_test.sh: no apt-get; skipped"; exit 77; }

user=njpkg$$
work=$(mktemp -d /tmp/nj-package-test.XXXXXX)
chmod 755 "$work"
installed=
cleanup() {
    local status=$?
    # Only the throwaway user's own processes, should a step have failed.
    pkill -u "$user" 2>/dev/null || true
    [ -z "$installed" ] || apt-get remove --purge -y nightjar >/dev/null 2>&1 || true
    id "$user" >/dev/null 2>&1 && userdel -r "$user" 2>/dev/null || true
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() { echo "package_test.sh: $*" >&2; exit 1; }
as_user() { runuser -u "$user" -- env -i HOME="/home/$user" PATH=/usr/bin:/bin "$@"; }

deb=$("$top/scripts/package.sh" --deb 2>/dev/null | tail -1)
[ -f "$deb" ] || fail "no package built"
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *wine* | *i386*) fail "the package depends on Wine or 32-bit code: $depends" ;; esac
case "$depends" in *libticables2-8*) ;; *) fail "the package does not depend on libticables2, which its cables need: $depends" ;; esac

files_before=$(mktemp -p "$work")
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' >"$files_before"
dpkg -s nightjar >/dev/null 2>&1 && fail "nightjar is already installed on this machine"
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >/dev/null 2>&1 || fail "apt-get install failed"
useradd -m "$user"

# The cable and its library, where the throwaway user may read them.
cp "$native/sim/vcable/njcable" "$native/sim/vcable/lib/x86_64-linux-gnu/libnjcable.so" "$work/"
chmod 755 "$work"/njcable "$work"/libnjcable.so

version=$(as_user nightjar --version)
[ "$version" = "nightjar $(dpkg-deb -f "$deb" Version)" ] || fail "--version says: $version"
as_user nightjar --list-devices >/dev/null || fail "--list-devices failed"
# libticables2 as installed, for an ordinary user: no SilverLink is plugged in here.
status=0
as_user nightjar --cable silverlink 2>"$work/silverlink" || status=$?
[ "$status" = 3 ] && grep -q "SilverLink #1: not plugged in" "$work/silverlink" ||
    fail "--cable silverlink without one: status $status, $(cat "$work/silverlink")"
man -w nightjar >/dev/null || fail "no manual page"
[ -f /usr/lib/systemd/user/nightjar@.service ] || fail "no user unit"
[ -f /usr/share/nightjar/NIGHTJAR.8xp ] || fail "no calculator program"

# One short session, as the user's own: on a session bus of the user's, a
# fake MPRIS player; a key from the calculator reaches it as its MPRIS call,
# its track reaches the calculator. The calculator end is nightjar's own link
# tool from the build (njlink), run as the same user.
cp "$native/linux/njlink" "$top/sim/mprisplayer/fake_player.py" "$work/" && chmod 755 "$work/njlink"
mkdir "$work/cable" && chown "$user" "$work/cable"
cable=$(as_user "$work/njcable" --daemon "$work/cable/state")
end0=$(sed -n 1p <<<"$cable")
end1=$(sed -n 2p <<<"$cable")
cable_pid=$(sed -n 3p <<<"$cable")
await() { # FILE TEXT: what a step waits for, within 20 s
    for _ in $(seq 200); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    fail "no \"$2\" in $1: $(cat "$1" 2>/dev/null)"
}
# setpriv, unlike runuser, runs the program itself: its pid and status are the program's.
as_session_user=(setpriv --reuid="$user" --regid="$user" --init-groups -- env -i HOME="/home/$user" PATH=/usr/bin:/bin)
session() { "${as_session_user[@]}" "$@"; }
"${as_session_user[@]}" dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>/dev/null &
bus_pid=$!
await "$work/bus" unix:
as_session_user+=(DBUS_SESSION_BUS_ADDRESS="$(head -1 "$work/bus")")
mkfifo "$work/player-in" && chmod 666 "$work/player-in"
# A track without a title to start with: following it announces nothing.
"${as_session_user[@]}" /usr/bin/python3 "$work/fake_player.py" pkgtest "$work/cable/calls" --tracks '[{}]' \
    <"$work/player-in" >"$work/player-out" &
player_pid=$!
exec 3>"$work/player-in"  # the player's commands, open until the end
await "$work/player-out" ready
echo '{"status": "Playing"}' >&3
# njlink comes from the test build, with its sanitizers.
as_session_user+=(LD_PRELOAD="$work/libnjcable.so" NJ_CABLE_STATE="$work/cable/state" ASAN_OPTIONS=verify_asan_link_order=0)
"${as_session_user[@]}" nightjar --device "$end0" --verbose 2>"$work/log" &
nightjar_pid=$!
await "$work/log" "following pkgtest"
session "$work/njlink" --timeout 20 "$end1" send 52 || fail "the key did not go: $(cat "$work/log")"
await "$work/cable/calls" '"call": "Play"'
session "$work/njlink" --timeout 20 "$end1" recv 14 >"$work/announced" &
recv_pid=$!
echo '{"metadata": {"xesam:artist": ["Artist"], "xesam:title": "Title"}}' >&3
wait "$recv_pid" || fail "no announcement: $(cat "$work/log")"
[ "$(cat "$work/announced")" = "65 114 116 105 115 116 0 84 105 116 108 101 0 2" ] ||
    fail "announcement: $(cat "$work/announced")"
kill -TERM "$nightjar_pid"
wait "$nightjar_pid" || fail "nightjar did not end cleanly on SIGTERM: $(cat "$work/log")"
exec 3>&-
wait "$player_pid" || true
kill "$bus_pid" "$cable_pid"

DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y nightjar >/dev/null 2>&1 || fail "apt-get remove failed"
installed=
dpkg -s nightjar >/dev/null 2>&1 && fail "still installed after removal"
while read -r f; do [ ! -e "$f" ] || fail "left behind: $f"; done <"$files_before"
echo "package_test.sh: $(basename "$deb") installed, used by $user, removed; nothing left"
