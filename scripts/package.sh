#!/usr/bin/env bash
# Builds the release artefacts into dist/ of this tree:
#   Nightjar-<version>-setup.exe   the installer (NSIS)
#   Nightjar-<version>-win32.zip   the same files, to register by hand
# Builds the tree first (scripts/build.sh); the artefacts come from the
# `dist` target of the Windows build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NJ_BUILD:-$top/build}
dist=${NJ_DIST:-$top/dist}

"$top/scripts/build.sh"
cmake --build "$build/win" --target dist

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/win/CMakeCache.txt")
mkdir -p "$dist"
for artefact in "Nightjar-$version-setup.exe" "Nightjar-$version-win32.zip"; do
    cp "$build/win/dist/$artefact" "$dist/$artefact"
    echo "$dist/$artefact"
done
