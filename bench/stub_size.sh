#!/usr/bin/env bash
# Measures VezovudStub.exe, the overhead every output file carries, against
# its budget, and shows where its bytes go: the headers and each PE section
# as stored in the file, the imported DLLs, and (given a build folder) the
# largest functions and data, from an unstripped copy relinked with the
# build's own link line. Exits 1 when the stub is over budget; the stub_size
# test of the Windows build runs it on the stub alone.
#
# Usage: bench/stub_size.sh [build folder | stub .exe]   (default: build)
#
# The budget, 56 KiB, leaves the next fix some room; minizip stays the reader.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arg=${1:-${VEZOVUD_BUILD:-$root/build}}
budget_bytes=$((56 * 1024))
top_symbols=15
if [ -f "$arg" ]; then
  stub=$arg
  link_dir=""
else
  stub="$arg/win32/extractor/VezovudStub.exe"
  link_dir="$arg/win32/extractor"
fi
if [ ! -f "$stub" ]; then
  echo "stub_size: $stub not built (run scripts/build.sh)" >&2
  exit 1
fi
size=$(stat -c %s "$stub")
echo "VezovudStub.exe: $size bytes (budget $budget_bytes bytes)"

# Headers and sections as stored in the file: each section takes whole
# units of the file alignment (objdump prints sizes in hex).
headers=$(i686-w64-mingw32-objdump -p "$stub" | awk '$1 == "SizeOfHeaders" {print $2}')
align=$(i686-w64-mingw32-objdump -p "$stub" | awk '$1 == "FileAlignment" {print $2}')
align=$((16#$align))
printf '  %-10s %8d bytes in the file\n' headers "$((16#$headers))"
i686-w64-mingw32-objdump -h "$stub" | grep -E '^ +[0-9]+ ' |
while read -r _ name hex _ _ offset _; do
  bytes=$((16#$hex))
  if [ "$((16#$offset))" -eq 0 ]; then
    printf '  %-10s %8d bytes in memory only\n' "$name" "$bytes"
  else
    stored=$(( (bytes + align - 1) / align * align ))
    printf '  %-10s %8d bytes in the file (%d used)\n' "$name" "$stored" "$bytes"
  fi
done
# Everything but the system's own DLLs must be linked in: a stub that needs
# zlib1.dll runs under Wine (which has one) and fails on Windows.
echo "  imports: $(i686-w64-mingw32-objdump -p "$stub" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')"

# The largest symbols. The stub is linked stripped and optimised as one
# unit, so its pieces are seen in a copy linked without -s.
link_line="$link_dir/CMakeFiles/VezovudStub.dir/link.txt"
if [ -n "$link_dir" ] && [ -f "$link_line" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  command=$(tail -n 1 "$link_line" | sed -e 's/ -s / /' -e 's/ -Wl,--out-implib,[^ ]*//' \
                                         -e "s# -o VezovudStub.exe # -o $work/stub.exe #")
  if (cd "$link_dir" && eval "$command") >/dev/null 2>&1; then
    echo "  largest symbols (bytes, kind, name):"
    # (_end__ is a linker marker whose "size" is the resource section's.)
    i686-w64-mingw32-nm --size-sort -S -C "$work/stub.exe" | grep -E ' [tTrRdD] ' |
      grep -v ' _end__$' |
      tail -n "$top_symbols" | sort -k2,2r |
      while read -r _ hex kind name; do
        printf '  %8d %s %s\n' "$((16#$hex))" "$kind" "${name:0:90}"
      done
  fi
fi

if [ "$size" -gt "$budget_bytes" ]; then
  echo "stub_size: over budget by $((size - budget_bytes)) bytes"
  exit 1
fi
echo "stub_size: within budget, $((budget_bytes - size)) bytes to spare"
