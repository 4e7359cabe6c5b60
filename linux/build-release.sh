#!/usr/bin/env bash
# Builds the native front end as it ships: optimised, without sanitizers,
# with Debian's hardening flags, in its own build folder (the native test
# build keeps its sanitizers).
#
#   linux/build-release.sh DIR [TARGET...]     default targets: nightjar njlink njcalc
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: build-release.sh DIR [TARGET...]}
shift
[ $# -gt 0 ] || set -- nightjar njlink njcalc
flags() { (cd "$top" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNJ_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$dir" -j2 --target "$@" >/dev/null
