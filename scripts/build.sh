#!/usr/bin/env bash
# Installs what is missing, then builds both targets:
#   build/native  the portable core, the command-line tool and the tests (Linux)
#   build/win32   the Windows programs and their tests (i686-w64-mingw32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
bash scripts/fetch-minizip.sh build/deps

jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build/native -j "$jobs"
cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/win32 -j "$jobs"
