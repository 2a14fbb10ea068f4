#!/usr/bin/env bash
# Installs, builds both targets and runs every test: the native tests, the
# Windows tests under Wine, the native tests once more with AddressSanitizer
# and UBSan (build/asan), then the reader fuzzer for FUZZ_SECONDS (default 60).
# Wine gets its own prefix in build/wine, an Xvfb display of its own and a
# wineserver that this script starts and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/build.sh
out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)

. scripts/wine-session.sh
start_wine_session "$out" 91

log="$out/test.log"
: > "$log"
status=0
ctest --test-dir "$out/native" --output-on-failure -j "$(nproc)" 2>&1 | tee -a "$log" || status=1
ctest --test-dir "$out/win32" --output-on-failure 2>&1 | tee -a "$log" || status=1

# The sanitizer pass: undefined behaviour stops a test (the build says
# -fno-sanitize-recover), and leaks fail it. Impossible sizes must still
# come back as null from calloc, as AllocateBlock promises, rather than
# abort. clang's AddressSanitizer, as for the fuzzer: GCC 12's reports a
# false stack-buffer-overflow whenever a thread is cancelled through
# glibc's setjmp-based cleanup, which code without exceptions uses. The
# stub it embeds is the one build/win32 made, as for build/native.
passed=0
failed=0
if CC=clang CXX=clang++ cmake -S . -B "$out/asan" -DCMAKE_BUILD_TYPE=Debug \
     -DVEZOVUD_SANITIZE=address,undefined >/dev/null &&
   cmake --build "$out/asan" -j "$(nproc)" >"$out/asan-build.log" 2>&1; then
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$out/asan" --output-on-failure -j "$(nproc)" 2>&1 | tee -a "$log" || status=1
else
  tail -n 30 "$out/asan-build.log"
  echo "sanitizer build failed (log: $out/asan-build.log)"
  failed=$((failed + 1))
fi

# The fuzzer counts as one test.
if bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# One closing line over every pass (native, Wine, sanitizers, fuzzer).
while read -r fail total; do
  passed=$((passed + total - fail))
  failed=$((failed + fail))
done < <(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$log")
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
