#!/usr/bin/env bash
# On-demand benchmark: vezovud pack against Info-ZIP "zip -9 -r" plus the
# stub (also with --jobs 1, the Maker's serial path, and its system calls
# when strace is there), vezovud unpack against "unzip -q", peak memory (RSS)
# of both directions, also with one 1 GiB file, and the stub's size. Prints
# ratios measured side by side in one run: each step runs ROUNDS times,
# taking turns with its peer, and the median counts. Not part of the tests.
#   bash bench/pack_bench.sh [--corpus DIR | CORPUS_MB] [--jobs N] [--rounds N] [--no-big]
# --corpus packs a real folder instead of the generated corpus of CORPUS_MB
# (default 100); --jobs is handed to vezovud pack and unpack (default: their own, one
# thread per processor); --rounds (default 3); --no-big skips the 1 GiB file.
#
# Creating files costs ext4 far more right after many files were deleted on
# it (for some minutes it passes over the inodes just freed), so times taken
# where earlier runs unpacked and removed trees grow run after run. Run as
# root with mkfs.ext4 at hand, each unpack therefore goes to a freshly made
# ext4 filesystem in a loop image under /dev/shm; elsewhere into the work
# folder, with no tree removed before the last round.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${VEZOVUD_BUILD:-$root/build}
vezovud="$out/native/cli/vezovud"
stub="$out/win32/extractor/VezovudStub.exe"
corpus_mb=100
corpus_dir=
jobs=()
big=1
rounds=3
while [ $# -gt 0 ]; do
  case "$1" in
    --corpus) corpus_dir=$(cd "$2" && pwd); shift 2 ;;
    --jobs) jobs=(--jobs "$2"); shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --no-big) big=0; shift ;;
    [0-9]*) corpus_mb=$1; shift ;;
    *) echo "usage: bash bench/pack_bench.sh [--corpus DIR | CORPUS_MB] [--jobs N] [--rounds N] [--no-big]" >&2; exit 2 ;;
  esac
done
[ -x "$vezovud" ] && [ -f "$stub" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
image=
cleanup() {
  if [ -n "$image" ]; then umount "$work/mnt" 2>/dev/null || true; rm -f "$image"; fi
  rm -rf "$work"
}
trap cleanup EXIT
if [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null && [ -d /dev/shm ]; then
  image=$(mktemp /dev/shm/vezovud-bench.XXXXXX)
  mkdir -p "$work/mnt"
fi

# fresh_destination SIZE_BYTES: a folder on a new filesystem of at least
# SIZE_BYTES when a loop image is at hand (the one before it unmounted),
# else a new folder in the work folder. Prints its path.
fresh_count=0
fresh_destination() {
  fresh_count=$((fresh_count + 1))
  if [ -n "$image" ]; then
    umount "$work/mnt" 2>/dev/null || true
    truncate -s 0 "$image"
    truncate -s $(( $1 * 3 / 2 + 256 * 1024 * 1024 )) "$image"
    if mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image" &&
       mount -o loop "$image" "$work/mnt"; then
      echo "$work/mnt/out"
      return
    fi
    echo "cannot make a loop filesystem; unpacking into the work folder" >&2
    image=
  fi
  echo "$work/out$fresh_count"
}

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
# median of the numbers given, and the range: "M (LOW-HIGH)".
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {printf "%s (%s-%s)\n", v[int((NR + 1) / 2)], v[1], v[NR]}'; }

# unpack_once LABEL SIZE ARCHIVE FOLDER COMMAND...: unpacks into a fresh
# destination (appended to COMMAND, after -d for unzip), compares the tree
# with FOLDER, prints "seconds KB same".
unpack_once() {
  local label=$1 size=$2 archive=$3 folder=$4; shift 4
  local dest same=yes
  dest=$(fresh_destination "$size")
  read -r _ t m < <(measure "$label" "$@" "$dest")
  diff -r -q "$folder" "$dest" >/dev/null 2>&1 || same=no
  echo "$t $m $same"
}

run_pair() {  # run_pair NAME FOLDER
  local name=$1 folder=$2
  local size vts=() zts=() sts=() uts=() wts=() vm zm um wm same=yes
  size=$(du -sb "$folder" | cut -f1)
  for ((r = 1; r <= rounds; r++)); do
    rm -f "$work/$name"*.exe "$work/$name.zip"
    read -r _ t vm < <(measure vezovud-pack "$vezovud" pack "$folder" "$work/$name-v.exe" --stub "$stub" --quiet "${jobs[@]}")
    vts+=("$t")
    read -r _ t zm < <(measure zip-9 bash -c "cd '$folder' && zip -9 -r -q '$work/$name.zip' . && cat '$stub' '$work/$name.zip' > '$work/$name-z.exe'")
    zts+=("$t")
    # The serial path, as the Maker runs it.
    read -r _ t _ < <(measure vezovud-pack-1 "$vezovud" pack "$folder" "$work/$name-1.exe" --stub "$stub" --quiet --jobs 1)
    sts+=("$t")
    cmp -s "$work/$name-v.exe" "$work/$name-1.exe" || same="NO (--jobs 1 output differs)"
  done
  for ((r = 1; r <= rounds; r++)); do
    read -r t um s < <(unpack_once vezovud-unpack "$size" "$work/$name-v.exe" "$folder" "$vezovud" unpack "$work/$name-v.exe" "${jobs[@]}" -d)
    uts+=("$t"); [ "$s" = yes ] || same="NO (vezovud)"
    read -r t wm s < <(unpack_once unzip-q "$size" "$work/$name-v.exe" "$folder" unzip -q "$work/$name-v.exe" -d)
    wts+=("$t"); [ "$s" = yes ] || same="NO (unzip)"
  done
  local vt zt st ut wt vs zs
  vt=$(median "${vts[@]}"); zt=$(median "${zts[@]}"); st=$(median "${sts[@]}")
  ut=$(median "${uts[@]}"); wt=$(median "${wts[@]}")
  vs=$(stat -c %s "$work/$name-v.exe"); zs=$(stat -c %s "$work/$name-z.exe")
  echo "[$name] $(find "$folder" -type f | wc -l) files, $size bytes; load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors; medians of $rounds rounds (range)"
  echo "  pack time    vezovud ${vt}s  zip -9 -r ${zt}s   speed vs zip: $(ratio "${zt%% *}" "${vt%% *}")x"
  echo "  pack --jobs 1  ${st}s   speed vs zip: $(ratio "${zt%% *}" "${st%% *}")x"
  if command -v strace >/dev/null; then
    rm -f "$work/$name-1.exe"
    strace -f -c -o "$work/strace" "$vezovud" pack "$folder" "$work/$name-1.exe" --stub "$stub" --quiet --jobs 1 >/dev/null 2>&1 || true
    echo "  pack --jobs 1 system calls: $(awk '$NF == "total" {print $4}' "$work/strace") in all, brk $(awk '$NF == "brk" {print $4}' "$work/strace"), stat $(awk '$NF ~ /stat/ {n += $4} END {print n + 0}' "$work/strace"), openat $(awk '$NF == "openat" {print $4}' "$work/strace"), lseek $(awk '$NF == "lseek" {print $4}' "$work/strace")"
  fi
  echo "  output size  vezovud ${vs}  zip+stub ${zs}   size ratio $(ratio "$vs" "$zs")"
  echo "  pack RSS     vezovud ${vm} KB  zip ${zm} KB"
  echo "  unpack time  vezovud ${ut}s  unzip -q ${wt}s   speed vs unzip: $(ratio "${wt%% *}" "${ut%% *}")x"
  echo "  unpack RSS   vezovud ${um} KB  unzip ${wm} KB"
  echo "  unpacked to  $([ -n "$image" ] && echo "a fresh ext4 filesystem each time" || echo "new folders in $work")"
  # The figures count only when every unpacked tree matches the source and
  # the serial output is the default's, byte for byte.
  echo "  outputs and unpacked trees match: $same"
  rm -rf "$work/$name"*.exe "$work/$name.zip" "$work"/out*
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
