#!/bin/sh
# Builds the program a second time in a fresh directory and requires the same
# bytes: a build that differs by where or when it ran cannot be verified
# against its source.
#
#   check_reproducible.sh <source-dir> <toolchain-file> <built-exe> [cmake -D...]
#
# Extra arguments go to the configure step; pass every cache setting that
# reaches the binary (later -D options override the defaults below).
set -eu

if [ $# -lt 3 ]; then
    echo "usage: $0 <source-dir> <toolchain-file> <built-exe> [cmake args...]" >&2
    exit 2
fi
src=$1 toolchain=$2 built=$3
shift 3

if [ ! -f "$built" ]; then
    echo "FAIL: $built does not exist; build the program first" >&2
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/corvalesmgr-repro.XXXXXX")
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
log=$dir/build.log

if ! cmake -S "$src" -B "$dir/build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCORVALES_TESTS=OFF "$@" >"$log" 2>&1 ||
   ! cmake --build "$dir/build" --target corvalesmgr -j "$(nproc)" >>"$log" 2>&1; then
    cat "$log" >&2
    echo "FAIL: the second build did not succeed" >&2
    exit 1
fi

name=corvalesmgr.exe
again=$(find "$dir/build" -name "$name" -type f ! -path '*/CMakeFiles/*' | head -n 1)
if [ -z "$again" ]; then
    echo "FAIL: the second build made no $name" >&2
    exit 1
fi

if ! cmp "$built" "$again" >&2; then
    echo "FAIL: $built differs from a fresh build of the same sources" \
         "($(cmp -l "$built" "$again" 2>/dev/null | wc -l) bytes differ," \
         "sizes $(wc -c <"$built") and $(wc -c <"$again")); if the sources" \
         "changed since the last build, build again first" >&2
    exit 1
fi
echo "$name is reproducible ($(wc -c <"$built") bytes)"
