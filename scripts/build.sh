#!/usr/bin/env bash
# Installs what is missing, then builds both targets:
#   build/win32   the Windows programs and their tests (i686-w64-mingw32)
#   build/native  the portable core, the command-line tool and the tests (Linux)
# With the argument "twin", also the x86_64 twin of the Windows build:
#   build/win64   the same programs and tests from x86_64-w64-mingw32, a test
#                 vehicle for machines whose Wine runs 64-bit programs only
set -euo pipefail
# VEZOVUD_BUILD names another build folder (default: build).
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bash scripts/fetch-zlib.sh "$out/deps"
bash scripts/fetch-minizip.sh "$out/deps"

jobs=$(nproc)
windows_build() {  # FOLDER TOOLCHAIN: the Windows programs and their tests
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" -DVEZOVUD_DEPS_DIR="$out/deps" \
    -DVEZOVUD_NATIVE_TOOL="$out/native/cli/vezovud" -DVEZOVUD_SCREENSHOTS_DIR="$out/screenshots" \
    >/dev/null
  cmake --build "$1" -j "$jobs"
}
# Windows first: the native tool embeds the stub that this build makes.
windows_build "$out/win32" mingw-i686.cmake
cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DVEZOVUD_STUB_IMAGE="$out/win32/extractor/VezovudStub.exe" \
  -DVEZOVUD_MAKER_IMAGE="$out/win32/maker/VezovudMaker.exe" >/dev/null
cmake --build "$out/native" -j "$jobs"
if [ "${1:-}" = twin ]; then
  windows_build "$out/win64" mingw-x86_64.cmake
fi
