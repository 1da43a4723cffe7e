#!/bin/bash
# Runs corvalesmgr.exe /desktop in a throwaway Wine prefix and shows the
# address the browser was given, as a desktop shortcut click would.
#   tools/demo.sh <path-to-corvalesmgr.exe>
set -euo pipefail
root=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/..
. "$root/tests/wine/wine-env.sh"

# Wine starts the browser launcher after the program has gone; give it time.
URL_WAIT_S=30

if [ $# -ne 1 ]; then
    echo "usage: tools/demo.sh <path-to-corvalesmgr.exe>" >&2
    exit 2
fi
exe=$1
if [ ! -f "$exe" ]; then
    echo "demo: $exe not found; build it first (make mingw32)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/corvales-demo.XXXXXX")
cleanup() {
    corvales_wine_discard
    rm -rf "$work"
}
trap cleanup EXIT

echo "demo: making a throwaway Wine prefix (the first one on a machine takes a while)"
corvales_wine_fresh_prefix "$work"
corvales_wine_use "$work"

# Stands in for the browser: notes the address it is asked to open.
record=$work/received
cat >"$work/browser" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>'$record'
EOF
chmod +x "$work/browser"
corvales_wine_set_browser "\"$work/browser\""

mkdir -p "$WINEPREFIX/drive_c/demo"
cp "$exe" "$WINEPREFIX/drive_c/demo/corvalesmgr.exe"
echo 'demo: running C:\demo\corvalesmgr.exe /desktop'
set +e
"$CORVALES_WINE" 'C:\demo\corvalesmgr.exe' /desktop </dev/null >/dev/null 2>&1
rc=$?
set -e
echo "demo: it exited with $rc"

for ((i = 0; i < URL_WAIT_S * 10; i++)); do
    [ -s "$record" ] && break
    sleep 0.1
done
if [ ! -s "$record" ]; then
    echo "demo: the browser received nothing within ${URL_WAIT_S} s" >&2
    exit 1
fi
# Anything else it opens shows up too.
sleep 0.5
while IFS= read -r url; do
    echo "The browser received: $url"
done <"$record"
[ "$rc" -eq 0 ]
