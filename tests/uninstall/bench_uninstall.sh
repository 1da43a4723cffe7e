#!/bin/bash
# Uninstall timings under Wine; prints them, fails only if a run does.
#   bench_uninstall.sh <mingw64-build-dir> [runs]
set -euo pipefail
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
if [ $# -lt 1 ] || [ ! -f "$1/uninstall-helpers.args" ]; then
    echo "usage: bench_uninstall.sh <mingw64-build-dir> [runs] (a build with the tests)" >&2
    exit 2
fi
exec python3 "$here/bench_uninstall.py" "$@"
