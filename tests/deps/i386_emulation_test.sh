#!/usr/bin/env bash
# The choice between native 32-bit programs and qemu-i386 emulation, from
# stubbed facts, and how a handler found in binfmt_misc is reported; nothing
# of the machine is changed.
set -euo pipefail
script=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/i386-emulation.sh
failed=0 passed=0
check() {  # check WANT EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); else echo "FAIL: $1: expected '$2', got '$3'"; failed=$((failed + 1)); fi
}
decide() { "$script" decide "$@"; }

# decide WANT RUNS OURS BINFMT ROOT
check "native kernel: nothing to do" nothing "$(decide auto yes no yes yes)"
check "native kernel, not root: still nothing" nothing "$(decide auto yes no no no)"
check "no 32-bit: register" register "$(decide auto no no yes yes)"
check "our handler there but broken: register again" reregister "$(decide auto no yes yes yes)"
check "no 32-bit, not root" no-root "$(decide auto no no yes no)"
check "no 32-bit, no binfmt_misc" no-binfmt "$(decide auto no no no yes)"
check "forced on a native kernel" register "$(decide force yes no yes yes)"
check "forced, already emulated: second run does nothing" nothing "$(decide force yes yes yes yes)"
check "forced, not root" no-root "$(decide force yes no yes no)"
check "remove ours" unregister "$(decide remove yes yes yes yes)"
check "remove when none: nothing" nothing "$(decide remove yes no yes yes)"
check "unknown wish refused" 2 "$(decide sometimes yes no yes yes 2>/dev/null; echo $?)"

# mode, over a stubbed binfmt_misc folder.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '#!/bin/sh\necho "qemu-i386 version 10.0.13 (Debian 1:10.0.13+ds-0+deb13u1)"\n' >"$dir/qemu-i386"
chmod +x "$dir/qemu-i386"
mode() { NJ_BINFMT_DIR=$dir/binfmt "$script" mode; }
entry() {  # entry NAME STATE MAGIC
    printf '%s\ninterpreter %s\nflags: PF\noffset 0\nmagic %s\nmask ff\n' "$2" "$dir/qemu-i386" "$3" >"$dir/binfmt/$1"
}
mkdir -p "$dir/binfmt"; : >"$dir/binfmt/register"; echo enabled >"$dir/binfmt/status"
check "no handler: native" native "$(mode)"
entry arm enabled 7f454c460101010000000000000000000200280
check "another architecture's handler: native" native "$(mode)"
entry anyone disabled 7f454c4601010100000000000000000002000300
check "a disabled i386 handler: native" native "$(mode)"
entry anyone enabled 7f454c4601010100000000000000000002000300
check "anyone's enabled i386 handler: emulated" "emulated (qemu-i386 10.0.13)" "$(mode)"

# ensure where 32-bit programs run: quiet, nothing written.
out=$(NJ_BINFMT_DIR=$dir/binfmt NJ_I386_PROBE=/bin/true "$script" ensure 2>&1)
check "ensure on a machine that runs 32-bit programs is quiet" "" "$out"
check "... and registers nothing" "" "$(cat "$dir/binfmt/register")"

echo "i386 emulation: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
