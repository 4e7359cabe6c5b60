#!/usr/bin/env bash
# Sets how Wine's windows meet the X server, in $WINEPREFIX, before its
# programs start:
#
#   window-mode.sh managed     windows a window manager moves, stacks, decorates
#   window-mode.sh unmanaged   windows drawn by Wine alone
#   window-mode.sh auto        managed when a window manager runs on $DISPLAY
#
# and prints the mode set. Without a window manager Wine waits for an answer
# nobody gives on every hide of a managed window, so the tests and the
# private displays want unmanaged windows; a user's desktop wants managed
# ones. The prefix is shared by both, so whoever starts programs sets the
# mode first. A change restarts the prefix's wineserver so that it is saved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
die() { echo "window-mode.sh: $*" >&2; exit 1; }
# shellcheck source=scripts/lib/wine-ports.sh
. "$here/wine-ports.sh"

key='HKCU\Software\Wine\X11 Driver'

# A window manager that follows the desktop conventions names a window of
# its own on the root window, and that window names itself: a name left
# behind by one that has ended points nowhere.
window_manager_runs() {
    local id
    id=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
    [ -n "$id" ] && xprop -id "$id" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id # $id\$"
}

[ -n "${WINEPREFIX:-}" ] || die "WINEPREFIX is not set"
case "${1:-}" in
managed) mode=managed ;;
unmanaged) mode=unmanaged ;;
auto) if window_manager_runs; then mode=managed; else mode=unmanaged; fi ;;
*) die "usage: window-mode.sh managed | unmanaged | auto" ;;
esac
want=N
[ $mode = managed ] && want=Y

if ! wine reg query "$key" /v Managed 2>/dev/null | tr -d '\r' | grep -q "REG_SZ *$want\$"; then
    wine reg add "$key" /v Managed /t REG_SZ /d $want /f >/dev/null 2>&1 || die "could not set $key"
    stop_session
fi
echo $mode
