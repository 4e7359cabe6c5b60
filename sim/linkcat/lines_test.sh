#!/usr/bin/env bash
# `linkcat PORT lines` at both ends of a virtual cable: one end pulls and
# releases each wire by key, the other watches, and both must say in words
# what each wire does. Also: options go anywhere on the line.
# Usage (inside a cable, see sim/vcable/cable.sh):
#   lines_test.sh LINKCAT.EXE PORT_A PORT_B
set -uo pipefail
linkcat=$1 a=$2 b=$3
work=$(mktemp -d)
watcher=
failures=0

cleanup() {
    exec 3>&- 2>/dev/null
    [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# wait_for FILE TEXT: until FILE's last line is TEXT (10 s at most).
wait_for() {
    for _ in $(seq 100); do
        [ "$(tr -d '\r' <"$1" | tail -n 1)" = "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

idle="both released: idle"

# The watcher takes its keys from a pipe held open until it is told to quit.
mkfifo "$work/keys"
wine "$linkcat" "$b" lines --timeout 120 <"$work/keys" >"$work/watcher" 2>"$work/watcher.err" &
watcher=$!
exec 3>"$work/keys"
wait_for "$work/watcher" "$idle" || fail "the watcher did not come up idle: $(cat "$work/watcher" "$work/watcher.err")"

# The puller gets one key at a time, each once the watcher has seen the last.
mkfifo "$work/pulls"
wine "$linkcat" --timeout 120 "$a" lines <"$work/pulls" >"$work/puller" 2>"$work/puller.err" &
puller=$!
exec 4>"$work/pulls"
wait_for "$work/puller" "$idle" || fail "the puller did not come up idle"
step() {
    local key=$1 theirs=$2 ours=$3
    printf '%s' "$key" >&4
    wait_for "$work/watcher" "$theirs" || fail "after '$key' the watcher did not say \"$theirs\""
    wait_for "$work/puller" "$ours" || fail "after '$key' the puller did not say \"$ours\""
}
step a "wire A pulled by the other end, wire B released" "wire A pulled by us, wire B released"
step b "wire A pulled by the other end, wire B pulled by the other end" "wire A pulled by us, wire B pulled by us"
step a "wire A released, wire B pulled by the other end" "wire A released, wire B pulled by us"
step b "$idle" "$idle"
step a "wire A pulled by the other end, wire B released" "wire A pulled by us, wire B released"
# Quitting leaves the cable idle.
printf q >&4
exec 4>&-
wait "$puller" || fail "the puller did not end well"
wait_for "$work/watcher" "$idle" || fail "the puller's quit left a wire pulled"
printf q >&3
exec 3>&-
wait "$watcher" || fail "the watcher did not end well"
watcher=
[ "$failures" -eq 0 ] && echo "ok: each wire pulled and released, in words at both ends"

# Options anywhere: a receive with its time limit at the end runs out of time
# instead of printing the usage.
rc=0
out=$(wine "$linkcat" "$a" recv 3 --timeout 1 2>&1) || rc=$?
if [ "$rc" = 3 ] && [[ "$out" == *"timed out after 1 s"* ]]; then
    echo "ok: options after the command"
else
    fail "options after the command: exit $rc, \"$out\""
fi
rc=0
out=$(wine "$linkcat" "$a" lines extra 2>&1) || rc=$?
if [ "$rc" = 2 ] && [[ "$out" == *"lines takes nothing more"* ]]; then
    echo "ok: lines takes no arguments"
else
    fail "lines with an argument: exit $rc, \"$out\""
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
