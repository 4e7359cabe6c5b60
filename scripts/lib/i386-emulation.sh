#!/usr/bin/env bash
# Whether this machine runs Wine's 32-bit side, and i386 user emulation where
# its kernel runs no 32-bit programs (booted without ia32 emulation).
#
#   i386-emulation.sh ensure      nothing when 32-bit programs run; otherwise
#                                 sets up qemu-i386 through binfmt_misc
#   i386-emulation.sh force       the emulated path even where the kernel runs
#                                 32-bit programs itself (a binfmt_misc handler
#                                 takes precedence over the kernel's loader)
#   i386-emulation.sh remove      takes our handler out again
#   i386-emulation.sh mode        prints how 32-bit programs run here:
#                                 "native" or "emulated (qemu-i386 VERSION)"
#   i386-emulation.sh decide WANT RUNS OURS BINFMT ROOT
#                                 the decision alone, from stubbed facts
#
# Debian 12's qemu-user-static does not run Wine 8 (it ignores
# MAP_FIXED_NOREPLACE, and Debian's Wine has no preloader); Debian 13's
# qemu-user (10.x, a static binary) does. It is fetched with a private apt
# configuration, so the machine's own package sources stay as they are.
set -euo pipefail

name=nj-i386
home=${NJ_I386_HOME:-/usr/local/libexec/nightjar}
qemu=$home/qemu-i386
binfmt=${NJ_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
loader=${NJ_I386_PROBE:-/usr/lib/wine/wine}
# The i386 ELF header, executables and shared objects alike.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
magic_hex=7f454c4601010100000000000000000002000300

say() { printf '%s\n' "$*" >&2; }

# decide WANT RUNS OURS BINFMT ROOT: one word, what to do.
#   WANT   auto | force | remove
#   RUNS   yes when a 32-bit program runs now (by whatever means)
#   OURS   yes when our handler is registered and enabled
#   BINFMT yes when binfmt_misc is there or can be mounted
#   ROOT   yes when we may register handlers
# Answers: nothing, register, reregister, unregister, no-root, no-binfmt.
decide() {
    local want=$1 runs=$2 ours=$3 have_binfmt=$4 root=$5
    case $want in
    remove)
        [ "$ours" = yes ] && echo unregister || echo nothing
        return ;;
    auto) [ "$runs" = yes ] && { echo nothing; return; } ;;
    force) [ "$runs" = yes ] && [ "$ours" = yes ] && { echo nothing; return; } ;;
    *) echo "decide: WANT is auto, force or remove" >&2; return 2 ;;
    esac
    if [ "$root" != yes ]; then echo no-root
    elif [ "$have_binfmt" != yes ]; then echo no-binfmt
    elif [ "$ours" = yes ]; then echo reregister
    else echo register
    fi
}

runs_32bit() { [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1; }
ours_enabled() { [ -f "$binfmt/$name" ] && [ "$(head -n 1 "$binfmt/$name")" = enabled ]; }
binfmt_available() { [ -e "$binfmt/register" ] || grep -qw binfmt_misc /proc/filesystems; }
mount_binfmt() {
    [ -w "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" >/dev/null 2>&1
    [ -w "$binfmt/register" ]
}
yes_no() { "$@" && echo yes || echo no; }

# The Debian archive the machine already uses, for a private sources list
# naming Debian 13.
debian_mirror() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk '/^URIs:/ { u = $2 } /^Suites:/ && u != "" && $0 !~ /security/ { print u; exit }' "$f")
        [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; ++i) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
        [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
    done
    return 1
}

fetch_qemu() {
    [ -x "$qemu" ] && "$qemu" --version >/dev/null 2>&1 && return 0
    local mirror state deb
    mirror=$(debian_mirror) || { say "no Debian archive in the machine's apt sources to fetch qemu-user from"; return 1; }
    state=$(mktemp -d)
    # shellcheck disable=SC2064
    trap "rm -rf '$state'" RETURN
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main" >"$state/sources.list"
    local apt=(apt-get -qq -o Dir::Etc::sourcelist="$state/sources.list" -o Dir::Etc::sourceparts=-
        -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" -o APT::Architectures::=amd64
        -o APT::Sandbox::User=root -o Debug::NoLocking=1)
    "${apt[@]}" update >/dev/null || { say "could not read Debian 13's package lists from $mirror"; return 1; }
    (cd "$state" && "${apt[@]}" download qemu-user >/dev/null) || { say "could not download Debian 13's qemu-user"; return 1; }
    deb=$(ls "$state"/qemu-user_*.deb)
    mkdir -p "$home"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -O ./usr/bin/qemu-i386 >"$qemu.new"
    chmod 755 "$qemu.new"
    mv "$qemu.new" "$qemu"
}

unregister() { [ -f "$binfmt/$name" ] && echo -1 >"$binfmt/$name"; return 0; }
register() {
    # F: the kernel opens the interpreter now, so it serves every mount
    # namespace; P: the program keeps its own argv[0].
    printf ':%s:M::%s:%s:%s:FP' "$name" "$magic" "$mask" "$qemu" >"$binfmt/register"
}

cannot() {
    say "this kernel runs no 32-bit programs, and $1, so Wine's 32-bit side cannot run here;"
    say "boot the kernel with ia32_emulation=on (or $2) and run this again"
    exit 1
}

ensure() {
    local want=$1 action
    action=$(decide "$want" "$(yes_no runs_32bit)" "$(yes_no ours_enabled)" "$(yes_no binfmt_available)" \
        "$([ "$(id -u)" = 0 ] && echo yes || echo no)")
    case $action in
    nothing) return 0 ;;
    unregister) unregister; say "i386 emulation through qemu-i386 removed" ; return 0 ;;
    no-root) cannot "setting up i386 emulation needs root" "run this as root" ;;
    no-binfmt) cannot "binfmt_misc is not available to register an emulator" "load the binfmt_misc module" ;;
    esac
    if [ "$want" = force ]; then
        say "forcing the emulated path: running Wine's 32-bit side under qemu-i386 emulation"
    else
        say "this kernel runs no 32-bit programs; running Wine's 32-bit side under qemu-i386 emulation"
    fi
    mount_binfmt || cannot "binfmt_misc could not be mounted at $binfmt" "mount it there"
    fetch_qemu || cannot "qemu-i386 could not be fetched" "make Debian 13's qemu-user reachable"
    [ "$action" = reregister ] && unregister
    register
    runs_32bit || cannot "Wine's loader does not start under qemu-i386" "see $binfmt/$name"
}

# How 32-bit programs run here: an enabled binfmt_misc handler for i386 ELF
# (ours or anyone's) means emulated.
mode() {
    local f interp
    for f in "$binfmt"/*; do
        case ${f##*/} in register | status) continue ;; esac
        [ -f "$f" ] && [ "$(head -n 1 "$f")" = enabled ] || continue
        grep -qx "magic $magic_hex" "$f" || continue
        interp=$(sed -n 's/^interpreter //p' "$f")
        echo "emulated ($(basename "$interp") $("$interp" --version 2>/dev/null | sed -n '1s/.*version \([^ ]*\).*/\1/p'))"
        return 0
    done
    echo native
}

case ${1:-} in
ensure) ensure auto ;;
force) ensure force ;;
remove) ensure remove ;;
mode) mode ;;
decide) shift; decide "$@" ;;
*) echo "usage: $0 ensure | force | remove | mode | decide WANT RUNS OURS BINFMT ROOT" >&2; exit 2 ;;
esac
