#!/usr/bin/env bash
# Installs, as root on Debian 12, whatever the build and the tests need and
# this machine lacks. Does nothing when everything is there. Then makes sure
# Wine's 32-bit side can run: where the kernel runs no 32-bit programs, it
# sets up qemu-i386 emulation (scripts/lib/i386-emulation.sh).
#
#   scripts/install-deps.sh                  what ./test and ./run call
#   scripts/install-deps.sh --emulate-i386   the emulated path even where the
#                                            kernel runs 32-bit programs itself
#   scripts/install-deps.sh --native-i386    takes that emulation out again
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case ${1:-} in
"") i386=ensure ;;
--emulate-i386) i386=force ;;
--native-i386) i386=remove ;;
*) echo "usage: $0 [--emulate-i386 | --native-i386]" >&2; exit 2 ;;
esac

packages=(
    cmake ninja-build g++ gcc-multilib googletest
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
    wine wine32:i386 wine64 libwine-dev:i386 fonts-wine
    xvfb xauth x11-utils xdotool imagemagick openbox
    python3 python3-dbus python3-gi gir1.2-glib-2.0 dbus dbus-daemon
    pkg-config libglib2.0-dev libplayerctl-dev playerctl mpv mpv-mpris sox
    clang libclang-rt-14-dev libticables-dev libtifiles-dev libticonv-dev libz80ex-dev pasmo
    nsis zip unzip
    dpkg-dev lintian
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing=("${packages[@]}")
else
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

"$top/scripts/lib/i386-emulation.sh" "$i386"
