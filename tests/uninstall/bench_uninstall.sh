#!/bin/bash
# Uninstall timings under Wine; prints them, fails only if a run does.
#   bench_uninstall.sh <build-dir>... [runs]   (builds made with their tests)
set -euo pipefail
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
for dir in "$@"; do
    [[ $dir =~ ^[0-9]+$ ]] && continue
    if [ ! -f "$dir/uninstall-helpers.args" ]; then
        echo "usage: bench_uninstall.sh <build-dir>... [runs] ($dir has no uninstall helpers)" >&2
        exit 2
    fi
done
exec python3 "$here/bench_uninstall.py" "$@"
