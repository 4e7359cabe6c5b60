#!/usr/bin/env bash
# Configures and builds both halves of the tree:
#   build/native  platform-free code with sanitizers, the virtual cable
#   build/win     32-bit Windows programs (and the Wine prefix they run in)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NJ_BUILD:-$top/build}

cmake -S "$top" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native"

cmake -S "$top" -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686-mingw.cmake" \
    -DNJ_NATIVE_DIR="$build/native" >/dev/null
cmake --build "$build/win"
