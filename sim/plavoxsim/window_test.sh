#!/usr/bin/env bash
# Drives plavoxsim.exe under Wine the way Plavox and the test scripts do:
# commands and queries from outside (through its own --send/--ask helpers),
# the window title as X sees it, and the message log.
# usage: window_test.sh PLAVOXSIM.EXE   (Wine environment and DISPLAY set)
set -euo pipefail
sim=$1
work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        wine "$sim" --close >/dev/null 2>&1 || true
        sleep 1
        kill "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
ask() { wine "$sim" --ask "$@" | tr -d '\r'; }
send() { wine "$sim" --send "$1"; }
expect_answer() {  # LPARAM WPARAM EXPECTED
    local got
    got=$(ask "$1" "$2")
    [ "$got" = "$3" ] || fail "request $1/$2 answered '$got', expected '$3'"
}
window_title() { xdotool getwindowname "$(xdotool search --onlyvisible --classname --limit 1 'plavoxsim.exe')"; }
expect_title() {
    local got
    for _ in $(seq 20); do
        got=$(window_title 2>/dev/null || true)
        [ "$got" = "$1" ] && return 0
        sleep 0.1
    done
    fail "title '$got', expected '$1'"
}
start() {
    wine "$sim" "$@" &
    sim_pid=$!
    for _ in $(seq 100); do
        ask 104 >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "the simulator window did not appear"
}
stop() {
    wine "$sim" --close
    for _ in $(seq 50); do
        kill -0 "$sim_pid" 2>/dev/null || { wait "$sim_pid" || true; sim_pid=; return 0; }
        sleep 0.1
    done
    fail "the simulator did not close"
}

log="$work/messages.log"
start --log "$(winepath -w "$log")" --track 2 --play

echo "== playing track 2"
expect_title "2. Zoë Marlowe - Paper Satellites - Plavox"
expect_answer 104 0 1
expect_answer 105 1 187
expect_answer 126 0 44100
expect_answer 126 1 256
first=$(ask 105 0)
sleep 1
second=$(ask 105 0)
[ "$second" -gt "$first" ] || fail "position did not run: $first then $second"

echo "== commands"
send 40046; expect_answer 104 0 3
paused=$(ask 105 0); sleep 0.5
expect_answer 105 0 "$paused"
send 40048; expect_title "3. Orchard Static - Night Bus to Tallin - Plavox"
send 40044; send 40044; expect_title "1. The Lantern Moths - Cold Harbour - Plavox"
send 40047; expect_answer 104 0 0; expect_answer 105 0 0
send 40045; expect_answer 104 0 1

echo "== clearing the playlist"
expect_answer 101 0 0
expect_title "Plavox"
expect_answer 104 0 0
stop

echo "== message log"
tr -d '\r' <"$log" >"$work/lines"
for line in "WM_USER 0 104" "WM_USER 1 105" "WM_USER 0 126" "WM_COMMAND 40046 0" "WM_COMMAND 40048 0" \
            "WM_COMMAND 40044 0" "WM_COMMAND 40047 0" "WM_COMMAND 40045 0" "WM_USER 0 101"; do
    grep -qxF "$line" "$work/lines" || fail "log lacks '$line'"
done
[ "$(tail -n 1 "$work/lines")" = "WM_CLOSE 0 0" ] || fail "log does not end with the close request"

echo "== forced title, appended log"
before=$(wc -l <"$work/lines")
start --log "$(winepath -w "$log")" --title "Odd title without a dash"
expect_title "Odd title without a dash"
send 40048
expect_title "Odd title without a dash"
stop
[ "$(tr -d '\r' <"$log" | wc -l)" -gt "$before" ] || fail "the second run did not append to the log"

echo "== bad use"
if wine "$sim" --track 99 2>/dev/null; then fail "--track 99 accepted"; fi
if wine "$sim" --send 40045 2>/dev/null; then fail "--send without a simulator succeeded"; fi
echo "all passed"
