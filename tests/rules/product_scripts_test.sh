#!/usr/bin/env bash
# What runs or ships the system never needs a test file: ./run, scripts/,
# bench/, tools/ and the adapters' launchers name no path under tests/ (as
# "tests/..." or as a quoted 'tests' path part, as Python joins paths).
# The check first proves on a made-up tree that it catches both forms and
# passes prose, then runs over this tree.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
pattern="(^|[^A-Za-z0-9_.-])tests/|['\"]tests['\"]"

# Prints every offending line of the product scripts under DIR.
violations() {
    (
        cd "$1"
        shopt -s nullglob
        local places=(run scripts bench tools adapters/*/run*)
        local present=()
        for p in "${places[@]}"; do [ -e "$p" ] && present+=("$p"); done
        [ ${#present[@]} -eq 0 ] && exit 0
        grep -rInE --exclude='*.pyc' --exclude-dir=__pycache__ "$pattern" -- "${present[@]}" || true
    )
}

sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
mkdir -p "$sample/scripts" "$sample/adapters/x" "$sample/tools"
printf 'exe=tests/app/probe.exe\n' >"$sample/run"
printf "PROBE = ('tests', 'app', 'probe.exe')\n" >"$sample/scripts/paths.py"
printf '"$top/tests/fuzz/run" 5\n' >"$sample/adapters/x/run-x"
printf '# what the tests rely on; common_tests/ and my-tests/ are other folders\n' >"$sample/tools/note.sh"
found=$(violations "$sample" | wc -l)
if [ "$found" -ne 3 ]; then
    echo "the check found $found of the 3 planted paths:" >&2
    violations "$sample" >&2
    exit 1
fi

bad=$(violations "$top")
if [ -n "$bad" ]; then
    echo "product scripts name paths under tests/ (move what they need to tools/ or scripts/lib/):" >&2
    echo "$bad" >&2
    exit 1
fi
echo "no product script names a path under tests/"
