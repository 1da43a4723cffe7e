#!/bin/bash
# Installs the product in a throwaway Wine prefix, uninstalls it with the
# box answered OK, and shows what was there before and what is left.
#   demo-uninstall.sh <build-dir>   (make demo-uninstall passes the 32-bit one)
set -euo pipefail
root=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/..
if [ $# -ne 1 ]; then
    echo "usage: demo-uninstall.sh <build-dir>" >&2
    exit 2
fi
if [ ! -f "$1/uninstall-helpers.args" ]; then
    echo "demo-uninstall: $1 has no uninstall helpers; build it with the tests (make mingw32)" >&2
    exit 1
fi
exec python3 "$root/tests/uninstall/demo_uninstall.py" "$1"
