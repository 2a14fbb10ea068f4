#!/usr/bin/env bash
# Builds the reader's libFuzzer harness (clang, AddressSanitizer, UBSan) in
# <build>/fuzz and runs it for SECONDS (default 60) over a copy of the seed
# corpus tests/fuzz/corpus, with the tokens of tests/fuzz/reader.dict.
# Crash inputs go to <build>/fuzz/run/artifacts.
#   bash scripts/fuzz.sh [SECONDS]
# FUZZ_JOBS=N runs N fuzzing processes side by side (libFuzzer's -jobs and
# -workers); FUZZ_MAX_LEN caps the input size (default 65536 bytes).
# Exit status 0 only when no input crashed, leaked, hung or ran out of memory.
# When run as root, the fuzzer itself runs as nobody: a name that climbed out
# of the destination could then write nowhere but in world-writable folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
jobs=${FUZZ_JOBS:-1}
max_len=${FUZZ_MAX_LEN:-65536}

bash scripts/setup.sh test
out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bash scripts/fetch-minizip.sh "$out/deps"

if ! { CC=clang CXX=clang++ cmake -S . -B "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DVEZOVUD_FUZZ=ON -DVEZOVUD_TESTS=OFF -DVEZOVUD_WITHOUT_STUB=ON \
         -DVEZOVUD_DEPS_DIR="$out/deps" &&
       cmake --build "$out/fuzz" --target reader_fuzz -j 2; } >"$out/fuzz-build.log" 2>&1; then
  tail -n 30 "$out/fuzz-build.log"
  echo "fuzz: the build failed (log: $out/fuzz-build.log)"
  exit 1
fi
fuzzer="$out/fuzz/tests/fuzz/reader_fuzz"

# A fresh run folder: the corpus copy, the artifacts, the logs. The inputs
# and their sandboxes go to a folder in memory when there is one: a third
# more inputs per second than on disk.
run="$out/fuzz/run"
rm -rf "$run"
mkdir -p "$run/corpus" "$run/artifacts"
cp tests/fuzz/corpus/* "$run/corpus/"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=$(mktemp -d /dev/shm/vezovud-fuzz.XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
else
  scratch="$run/tmp"
  mkdir -p "$scratch"
fi
as_user=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  chown -R nobody "$run" "$scratch"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

options=(-max_len="$max_len" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048
         -print_final_stats=1 -artifact_prefix="$run/artifacts/" -dict="$root/tests/fuzz/reader.dict")
if [ "$jobs" -gt 1 ]; then
  options+=(-jobs="$jobs" -workers="$jobs")
fi
echo "fuzz: $fuzzer for $seconds s, $jobs process(es), inputs up to $max_len bytes"
fuzz_status=0
(cd "$run" && TMPDIR="$scratch" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "${as_user[@]}" "$fuzzer" "${options[@]}" "$run/corpus") >"$run/fuzz.log" 2>&1 ||
  fuzz_status=$?

# With -jobs each process logs to fuzz-N.log in the run folder.
logs=("$run/fuzz.log")
for f in "$run"/fuzz-*.log; do [ -e "$f" ] && logs+=("$f"); done
execs=$(cat "${logs[@]}" | sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' |
        awk '{ n += $1 } END { print n + 0 }')
crashes=$(find "$run/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' \
          -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
if [ "$fuzz_status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
  crashes=1  # the fuzzer stopped without leaving an input behind
fi
if [ "$crashes" -ne 0 ]; then
  grep -hE -A16 '^==[0-9]+==|runtime error|reader_fuzz:' "${logs[@]}" | head -40 || true
  ls "$run/artifacts"
fi
echo "fuzz: $execs execs, $crashes crashes, corpus $(ls "$run/corpus" | wc -l) inputs (log: $run/fuzz.log)"
[ "$crashes" -eq 0 ]
