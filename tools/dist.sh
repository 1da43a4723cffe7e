#!/bin/bash
# Copies the two built programs to dist/<arch>/ and builds an installer
# around each into dist/. With a certificate in the environment (see
# tools/sign.sh) the programs are signed before the installers take them in,
# and the installers after they are built; without one all stays unsigned.
#
# CORVALES_DIST_DIR, CORVALES_BUILD64 and CORVALES_BUILD32 choose other
# folders than dist/, build/mingw64/ and build/mingw32/.
set -euo pipefail

# Paths given by the caller are meant from where the caller stands.
from_caller() {
    case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s/%s\n' "$PWD" "$1" ;; esac
}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(from_caller "${CORVALES_DIST_DIR:-$root/dist}")
build64=$(from_caller "${CORVALES_BUILD64:-$root/build/mingw64}")
build32=$(from_caller "${CORVALES_BUILD32:-$root/build/mingw32}")
for var in CORVALES_SIGN_CERT CORVALES_SIGN_KEY; do
    if [ -n "${!var:-}" ]; then
        export "$var=$(from_caller "${!var}")"
    fi
done
cd "$root"
version=$(sed -n 's/^project(corvalesmgr VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

sign=false
if [ -n "${CORVALES_SIGN_CERT:-}" ]; then
    sign=true
else
    echo "dist: CORVALES_SIGN_CERT is not set; the programs and installers stay unsigned"
fi

mkdir -p "$out/x86_64" "$out/i686"
cp "$build64/corvalesmgr.exe" "$out/x86_64/corvalesmgr.exe"
cp "$build32/corvalesmgr.exe" "$out/i686/corvalesmgr.exe"
if $sign; then
    tools/sign.sh "$out/x86_64/corvalesmgr.exe" "$out/i686/corvalesmgr.exe"
fi

installers=()
for arch in x86_64 i686; do
    installer=$out/corvalesmgr-$version-$arch-installer.exe
    installer/build.sh "$arch" "$out/$arch/corvalesmgr.exe" "$installer" "$version"
    installers+=("$installer")
done
if $sign; then
    tools/sign.sh "${installers[@]}"
fi
ls -l "$out/x86_64/corvalesmgr.exe" "$out/i686/corvalesmgr.exe" "${installers[@]}"
