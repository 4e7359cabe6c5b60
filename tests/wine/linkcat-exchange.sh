#!/usr/bin/env bash
# Two linkcats on the two ends of a virtual cable: every byte value in both
# directions, a string with its terminator, and the ways a run can fail.
# Usage (inside a cable, see sim/vcable/cable.sh):
#   linkcat-exchange.sh LINKCAT.EXE PORT_A PORT_B
set -uo pipefail
linkcat=$1 a=$2 b=$3
limit=60  # seconds any one linkcat may take
failures=0
receiver=

cleanup() { [ -n "$receiver" ] && kill "$receiver" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# transfer NAME FROM TO EXPECTED SEND-ARGS...: FROM sends, TO receives.
transfer() {
    local name=$1 from=$2 to=$3 expected=$4
    shift 4
    local count out
    count=$(wc -w <<<"$expected")
    out=$(mktemp)
    wine "$linkcat" --timeout $limit "$to" recv "$count" >"$out" 2>&1 &
    receiver=$!
    if ! wine "$linkcat" --timeout $limit "$from" "$@"; then
        fail "$name: the sender failed"
    fi
    if ! wait "$receiver"; then
        fail "$name: the receiver failed: $(cat "$out")"
    fi
    receiver=
    local got
    got=$(tr -d '\r' <"$out")
    rm -f "$out"
    if [ "$got" != "$expected" ]; then
        fail "$name: received \"$got\", expected \"$expected\""
    else
        echo "ok: $name"
    fi
}

# expect_failure NAME STATUS MESSAGE ARGS...
expect_failure() {
    local name=$1 status=$2 message=$3
    shift 3
    local out rc=0
    out=$(wine "$linkcat" "$@" 2>&1) || rc=$?
    out=$(tr -d '\r' <<<"$out")
    if [ "$rc" != "$status" ] || [[ "$out" != *"$message"* ]]; then
        fail "$name: exit $rc, \"$out\"; expected exit $status with \"$message\""
    else
        echo "ok: $name"
    fi
}

all=$(seq -s ' ' 0 255)
# shellcheck disable=SC2086
transfer "all byte values, COM$a to COM$b" "$a" "$b" "$all" send $all
# shellcheck disable=SC2086
transfer "all byte values, COM$b to COM$a" "$b" "$a" "$all" send $all
transfer "a string and its terminator" "$a" "$b" "72 101 108 108 111 44 32 99 97 108 99 33 0" sendstr "Hello, calc!"
transfer "an empty string is its terminator" "$b" "$a" "0" sendstr ""

expect_failure "a receive with no sender runs out of time" 3 "timed out after 1 s" --timeout 1 "$a" recv 1
expect_failure "a send with no receiver runs out of time" 3 "timed out after 1 s" --timeout 1 "$a" send 7
expect_failure "a port with no device" 1 "linkcat: COM3 could not be opened: " 3 send 1
expect_failure "a port outside 1 to 4" 2 "bad port: 5" 5 send 1
expect_failure "a byte outside 0 to 255" 2 "bad byte: 256" "$a" send 1 256
expect_failure "an unknown command" 2 "unknown command: talk" "$a" talk

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
