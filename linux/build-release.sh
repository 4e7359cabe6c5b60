#!/usr/bin/env bash
# Builds the native front end as it ships: optimised, without sanitizers,
# in its own build folder (the native test build keeps its sanitizers).
#
#   linux/build-release.sh DIR [TARGET...]     default targets: nightjar njlink
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build-release.sh DIR [TARGET...]}
shift
[ $# -gt 0 ] || set -- nightjar njlink
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNJ_SANITIZE=OFF >/dev/null
cmake --build "$dir" -j2 --target "$@" >/dev/null
