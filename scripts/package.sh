#!/usr/bin/env bash
# Builds the release artefacts into dist/ of this tree:
#   Nightjar-<version>-setup.exe   the installer (NSIS)
#   Nightjar-<version>-win32.zip   the same files, to register by hand
#   nightjar_<version>_amd64.deb   Nightjar for Linux, a Debian package
# Both carry NIGHTJAR.8xp, the calculator's own program, from the native build.
# The Windows artefacts come from the `dist` target of the Windows build
# (scripts/build.sh builds the tree first); the package from the native
# front end built as it ships (linux/build-release.sh), put together with
# Debian's own tools and checked with lintian.
#
#   scripts/package.sh          everything
#   scripts/package.sh --deb    the Debian package alone (no Wine needed)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${NJ_BUILD:-$top/build}
dist=${NJ_DIST:-$top/dist}

die() { echo "package.sh: $*" >&2; exit 1; }

project_version() { sed -n 's/^project(Nightjar VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt"; }

windows_artefacts() {
    "$top/scripts/build.sh"
    cmake --build "$build/win" --target dist
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/win/CMakeCache.txt")
    mkdir -p "$dist"
    for artefact in "Nightjar-$version-setup.exe" "Nightjar-$version-win32.zip"; do
        cp "$build/win/dist/$artefact" "$dist/$artefact"
        echo "$dist/$artefact"
    done
}

# The installed tree of the package, under $1.
stage_files() {
    local root=$1 release=$build/linux src=$top/linux
    install -D -m 0755 "$release/linux/nightjar" "$root/usr/bin/nightjar"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/nightjar"
    install -D -m 0644 "$src/dist/nightjar@.service" "$root/usr/lib/systemd/user/nightjar@.service"
    install -D -m 0644 "$src/dist/nightjar.service" "$root/usr/lib/systemd/user/nightjar.service"
    install -D -m 0644 "$src/dist/nightjar.1" "$root/usr/share/man/man1/nightjar.1"
    install -D -m 0644 "$release/calculator/NIGHTJAR.8xp" "$root/usr/share/nightjar/NIGHTJAR.8xp"
    gzip -9n "$root/usr/share/man/man1/nightjar.1"
    local doc=$root/usr/share/doc/nightjar
    install -D -m 0644 "$src/debian/copyright" "$doc/copyright"
    install -D -m 0644 "$src/dist/config.example" "$doc/config.example"
    install -D -m 0644 "$src/debian/changelog" "$doc/changelog"
    gzip -9n "$doc/changelog"
}

debian_package() {
    local version changelog_version
    version=$(project_version)
    changelog_version=$(dpkg-parsechangelog -l "$top/linux/debian/changelog" -S Version)
    [ "$changelog_version" = "$version" ] ||
        die "linux/debian/changelog is at $changelog_version, the project at $version: add a changelog entry"
    "$top/linux/build-release.sh" "$build/linux" nightjar nightjar_8xp

    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    mkdir -p "$work/debian"
    cp "$top/linux/debian/control" "$top/linux/debian/changelog" "$work/debian/"
    local root=$work/debian/nightjar
    stage_files "$root"
    (
        cd "$work"
        mkdir -p debian/nightjar/DEBIAN
        dpkg-shlibdeps -Tdebian/nightjar.substvars -edebian/nightjar/usr/bin/nightjar
        dpkg-gencontrol -pnightjar -Tdebian/nightjar.substvars -Pdebian/nightjar -Vmisc:Depends=
        (cd debian/nightjar && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
    )
    mkdir -p "$dist"
    local deb=$dist/nightjar_${version}_amd64.deb
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$top/linux/debian/changelog" -S Timestamp) \
        dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
    # The package is lintian-clean (pedantic tags included when this was
    # written): an error or a warning fails the build.
    lintian --fail-on error,warning "$deb" || die "lintian finds fault with $deb"
    echo "$deb"
}

case "${1:-}" in
--deb) debian_package ;;
"") windows_artefacts; debian_package ;;
*) die "usage: scripts/package.sh [--deb]" ;;
esac
