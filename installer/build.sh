#!/bin/bash
# Builds one installer around a built corvalesmgr.exe.
#
#   installer/build.sh <x86_64|i686> <corvalesmgr.exe> <out.exe> [version]
#
# The version defaults to the project's. The same inputs give the same bytes
# (makensis records no build time, and file times are left out).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if (($# < 3 || $# > 4)); then
    echo "usage: $0 <x86_64|i686> <corvalesmgr.exe> <out.exe> [version]" >&2
    exit 2
fi
arch=$1 exe=$2 out=$3
version=${4:-$(sed -n 's/^project(corvalesmgr VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")}
case $arch in x86_64 | i686) ;; *) echo "build: unknown architecture $arch" >&2; exit 2 ;; esac
[ -f "$exe" ] || { echo "build: no such program: $exe" >&2; exit 1; }
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build: bad version '$version'" >&2; exit 1; }
command -v makensis >/dev/null || { echo "build: makensis is not installed (apt-get install nsis)" >&2; exit 1; }

# The names the program's uninstall looks for come from the program's own
# header, so that the installer writes exactly those.
names=$here/../product/ProductNames.h
name() {
    local value
    value=$(sed -n "s/^constexpr const wchar_t\* $1 = L\"\([^\"\\\$]*\)\";\$/\1/p" "$names")
    [ -n "$value" ] || { echo "build: no plain $1 in $names" >&2; return 1; }
    printf '%s' "$value"
}
product=$(name ProductDisplayName)
link=$(name ShortcutName)
uninst_link=$(name UninstallShortcutName)
folder=$(name ProgramFolderName)
program=$(name ProgramFileName)

exe=$(readlink -f "$exe")
mkdir -p "$(dirname "$out")"
tmp="$out.partial"
trap 'rm -f "$tmp"' EXIT
# makensis writes its output as it goes; a failed run must not leave a
# truncated installer under the real name.
makensis -V2 -NOCD -INPUTCHARSET UTF8 \
    "-DARCH=$arch" "-DEXE=$exe" "-DOUTFILE=$(readlink -f "$(dirname "$tmp")")/$(basename "$tmp")" \
    "-DVERSION=$version" "-DPRODUCT=$product" "-DLINK=$link" "-DUNINST_LINK=$uninst_link" \
    "-DFOLDER=$folder" "-DPROGRAM=$program" "$here/corvalesmgr.nsi" >&2
mv -f "$tmp" "$out"
