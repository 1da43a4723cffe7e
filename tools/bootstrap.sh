#!/bin/bash
# Installs the Debian packages the build and the tests need, and nothing
# when they are all there already. 32-bit Wine comes from the i386
# architecture, so that one prefix runs both builds (WoW64) and a prefix
# made with WINEARCH=win32 is a 32-bit Windows.
set -euo pipefail

packages=(
    cmake make g++ clang libclang-rt-14-dev python3 python3-pefile
    libgtest-dev googletest
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 wine32:i386
    nsis osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
