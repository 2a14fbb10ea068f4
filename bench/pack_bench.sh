#!/usr/bin/env bash
# On-demand benchmark: vezovud pack against Info-ZIP "zip -9 -r" plus the
# stub (also with --jobs 1, the Maker's serial path, and its system calls
# when strace is there), vezovud unpack against "unzip -q", peak memory (RSS)
# of both directions, also with one 1 GiB file, and the stub's size. Prints
# ratios measured side by side in one run. Not part of the tests.
#   bash bench/pack_bench.sh [--corpus DIR | CORPUS_MB] [--jobs N] [--no-big]
# --corpus packs a real folder instead of the generated corpus of CORPUS_MB
# (default 100); --jobs is handed to vezovud pack and unpack (default: their own, one
# thread per processor); --no-big skips the 1 GiB file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${VEZOVUD_BUILD:-$root/build}
vezovud="$out/native/cli/vezovud"
stub="$out/win32/extractor/VezovudStub.exe"
corpus_mb=100
corpus_dir=
jobs=()
big=1
while [ $# -gt 0 ]; do
  case "$1" in
    --corpus) corpus_dir=$(cd "$2" && pwd); shift 2 ;;
    --jobs) jobs=(--jobs "$2"); shift 2 ;;
    --no-big) big=0; shift ;;
    [0-9]*) corpus_mb=$1; shift ;;
    *) echo "usage: bash bench/pack_bench.sh [--corpus DIR | CORPUS_MB] [--jobs N] [--no-big]" >&2; exit 2 ;;
  esac
done
[ -x "$vezovud" ] && [ -f "$stub" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Unless a folder is given: a corpus of mixed files, half text, a quarter
# random bytes, a quarter repetitive binary, in a few nested folders.
[ -n "$corpus_dir" ] || python3 - "$work/corpus" "$corpus_mb" <<'PY'
import os, random, sys
root, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9))) for _ in range(2000)]
total, n = 0, 0
while total < mb * 1024 * 1024:
    d = os.path.join(root, 'd%d' % (n % 7), 'e%d' % (n % 3))
    os.makedirs(d, exist_ok=True)
    size = rng.randint(10_000, 3_000_000)
    kind = n % 4
    p = os.path.join(d, 'f%d.%s' % (n, ['txt', 'txt', 'bin', 'dat'][kind]))
    with open(p, 'wb') as f:
        if kind < 2:
            text = ' '.join(rng.choice(words) for _ in range(size // 5))
            f.write(text.encode()[:size])
        elif kind == 2:
            f.write(os.urandom(size))
        else:
            f.write(bytes((i * 7 + (i >> 10)) & 0xFF for i in range(size)))
    total += size
    n += 1
print('corpus: %d files, %d bytes' % (n, total))
PY

measure() {  # measure LABEL COMMAND...: prints seconds and peak KB
  local label=$1; shift
  # What the step before wrote reaches the disk first, so that its
  # write-back is not timed as part of this step.
  sync
  # unzip exits 1 over the stub in front of the archive; that is no failure.
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  read -r secs kb < <(tail -n 1 "$work/time")
  echo "$label $secs $kb"
}

# ratio A B: A / B to two places.
ratio() { python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('%.2f' % (a/b if b else float('nan')))" "$1" "$2"; }

run_pair() {  # run_pair NAME FOLDER
  local name=$1 folder=$2
  read -r _ vt vm < <(measure vezovud-pack "$vezovud" pack "$folder" "$work/$name-v.exe" --stub "$stub" --quiet "${jobs[@]}")
  read -r _ zt zm < <(measure zip-9 bash -c "cd '$folder' && zip -9 -r -q '$work/$name.zip' . && cat '$stub' '$work/$name.zip' > '$work/$name-z.exe'")
  local vs zs
  vs=$(stat -c %s "$work/$name-v.exe"); zs=$(stat -c %s "$work/$name-z.exe")
  mkdir -p "$work/$name-uv" "$work/$name-uz"
  read -r _ ut um < <(measure vezovud-unpack "$vezovud" unpack "$work/$name-v.exe" "$work/$name-uv" "${jobs[@]}")
  read -r _ wt wm < <(measure unzip-q unzip -q "$work/$name-v.exe" -d "$work/$name-uz")
  echo "[$name] $(find "$folder" -type f | wc -l) files, $(du -sb "$folder" | cut -f1) bytes; load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
  echo "  pack time    vezovud ${vt}s  zip -9 -r ${zt}s   speed vs zip: $(ratio "$zt" "$vt")x"
  # The serial path, as the Maker runs it, and (with strace) its system calls.
  read -r _ st _ < <(measure vezovud-pack-1 "$vezovud" pack "$folder" "$work/$name-1.exe" --stub "$stub" --quiet --jobs 1)
  echo "  pack --jobs 1  ${st}s   speed vs zip: $(ratio "$zt" "$st")x"
  if command -v strace >/dev/null; then
    rm -f "$work/$name-1.exe"
    strace -f -c -o "$work/strace" "$vezovud" pack "$folder" "$work/$name-1.exe" --stub "$stub" --quiet --jobs 1 >/dev/null 2>&1 || true
    echo "  pack --jobs 1 system calls: $(awk '$NF == "total" {print $4}' "$work/strace") in all, brk $(awk '$NF == "brk" {print $4}' "$work/strace"), stat $(awk '$NF ~ /stat/ {n += $4} END {print n + 0}' "$work/strace"), openat $(awk '$NF == "openat" {print $4}' "$work/strace"), lseek $(awk '$NF == "lseek" {print $4}' "$work/strace")"
  fi
  echo "  output size  vezovud ${vs}  zip+stub ${zs}   size ratio $(ratio "$vs" "$zs")"
  echo "  pack RSS     vezovud ${vm} KB  zip ${zm} KB"
  echo "  unpack time  vezovud ${ut}s  unzip -q ${wt}s   speed vs unzip: $(ratio "$wt" "$ut")x"
  echo "  unpack RSS   vezovud ${um} KB  unzip ${wm} KB"
  # The figures count only when both unpacked trees match the source.
  local same=yes
  diff -r -q "$folder" "$work/$name-uv" >/dev/null 2>&1 || same="NO (vezovud)"
  diff -r -q "$folder" "$work/$name-uz" >/dev/null 2>&1 || same="$same NO (unzip)"
  echo "  unpacked trees match the source: $same"
  rm -rf "$work/$name-uv" "$work/$name-uz" "$work/$name"*.exe "$work/$name.zip"
}

{ bash "$root/bench/stub_size.sh" "$out" || true; } | sed -n 1p
echo "vezovud pack and unpack ${jobs[*]:-(default jobs)}; speed ratios are the peer's time over vezovud's"
run_pair corpus "${corpus_dir:-$work/corpus}"
if [ "$big" = 1 ]; then
  # One file: nothing to share between deflating threads.
  mkdir -p "$work/big"
  head -c 1073741824 /dev/urandom > "$work/big/one-gib.bin"
  run_pair one-gib "$work/big"
fi
