#!/bin/bash
# Runs a Windows program of either build under Wine as on a system set to
# another language: Wine takes the ANSI code page from the Unix locale,
# which is compiled for the run, and the program gets a throwaway prefix of
# its own (a locale change rewrites the prefix's settings). The prefix is a
# 64-bit Windows, where a 32-bit program runs under WoW64, unless
# CORVALES_WINE_ARCH=win32 asks for a 32-bit one.
#   wine-in-locale.sh LOCALE PROGRAM.exe ARGS...      LOCALE e.g. zh_CN
set -euo pipefail
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
. "$here/../wine/wine-env.sh"

if [ $# -lt 2 ]; then
    echo "usage: wine-in-locale.sh LOCALE PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
locale=$1
shift
dir=$(mktemp -d "${TMPDIR:-/tmp}/corvales-locale-XXXXXX")
cleanup() {
    if [ -n "${WINEPREFIX:-}" ]; then corvales_wine_discard; fi
    rm -rf "$dir"
}
trap cleanup EXIT

# localedef also fails on mere warnings; only a missing result counts.
mkdir -p "$dir/locale"
localedef -i "$locale" -f UTF-8 "$dir/locale/$locale.UTF-8" >"$dir/localedef.log" 2>&1 || true
if [ ! -f "$dir/locale/$locale.UTF-8/LC_CTYPE" ]; then
    echo "wine-in-locale: cannot compile the $locale locale (Debian package locales)" >&2
    cat "$dir/localedef.log" >&2
    exit 1
fi
corvales_wine_fresh_prefix "$dir"
corvales_wine_use "$dir"
env -u LANGUAGE LOCPATH="$dir/locale" LC_ALL="$locale.UTF-8" "$CORVALES_WINE" "$@" </dev/null
