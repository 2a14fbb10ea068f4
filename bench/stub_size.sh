#!/usr/bin/env bash
# Measures VezovudStub.exe, the overhead every output file carries, against
# its budget of 96 KiB, and shows where its bytes go (PE sections, largest
# data items). Usage: bench/stub_size.sh [build folder] (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-${VEZOVUD_BUILD:-$root/build}}
stub="$out/win32/extractor/VezovudStub.exe"
budget_bytes=$((96 * 1024))
if [ ! -f "$stub" ]; then
  echo "stub_size: $stub not built (run scripts/build.sh)" >&2
  exit 1
fi
size=$(stat -c %s "$stub")
echo "VezovudStub.exe: $size bytes (budget $budget_bytes bytes)"
# Section sizes as stored in the file (objdump prints them in hex).
i686-w64-mingw32-objdump -h "$stub" | grep -E '^ +[0-9]+ ' | while read -r _ name hex _; do
  case "$name" in
    .bss) printf '  %-10s %8d bytes in memory only\n' "$name" "$((16#$hex))" ;;
    *) printf '  %-10s %8d bytes\n' "$name" "$((16#$hex))" ;;
  esac
done
# Everything but the system's own DLLs must be linked in: a stub that needs
# zlib1.dll runs under Wine (which has one) and fails on Windows.
echo "  imports: $(i686-w64-mingw32-objdump -p "$stub" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')"
if [ "$size" -gt "$budget_bytes" ]; then
  echo "stub_size: over budget by $((size - budget_bytes)) bytes"
  exit 1
fi
echo "stub_size: within budget, $((budget_bytes - size)) bytes to spare"
