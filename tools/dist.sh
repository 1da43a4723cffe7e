#!/bin/bash
# Copies the two built programs to dist/<arch>/.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p dist/x86_64 dist/i686
cp build/mingw64/corvalesmgr.exe dist/x86_64/corvalesmgr.exe
cp build/mingw32/corvalesmgr.exe dist/i686/corvalesmgr.exe
ls -l dist/x86_64/corvalesmgr.exe dist/i686/corvalesmgr.exe
