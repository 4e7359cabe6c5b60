# shellcheck shell=bash
# The Wine environment of wine.env for shell scripts. Sourced; defines
#   nj_wine_env WIN NATIVE        exports every variable of wine.env
#   nj_wine_value NAME WIN NATIVE prints one of them
# WIN is the Windows build folder (build/win), NATIVE the native one.

nj_wine_env_file=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine.env

# Prints NAME=VALUE lines with the folders filled in.
nj_wine_lines() {
    local win=$1 native=$2 line
    while IFS= read -r line; do
        [[ $line =~ ^[A-Z_][A-Z0-9_]*= ]] || continue
        line=${line//\{win\}/$win}
        printf '%s\n' "${line//\{native\}/$native}"
    done <"$nj_wine_env_file"
}

nj_wine_env() {
    local line
    while IFS= read -r line; do
        export "${line%%=*}=${line#*=}"
    done < <(nj_wine_lines "$1" "$2")
}

nj_wine_value() {
    local line
    while IFS= read -r line; do
        [ "${line%%=*}" = "$1" ] && { printf '%s\n' "${line#*=}"; return 0; }
    done < <(nj_wine_lines "$2" "$3")
    return 1
}
