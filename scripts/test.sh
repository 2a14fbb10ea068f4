#!/usr/bin/env bash
# Installs, builds both targets and runs every test: the native tests, the
# Windows tests under Wine, the native tests once more with AddressSanitizer
# and UBSan (build/asan), then the reader fuzzer for FUZZ_SECONDS (default 60).
#
# The Windows tests run on what this machine's Wine can run. Where it runs
# 32-bit x86 code, the i686 programs run under wine32 (prefix build/wine).
# Where it runs 64-bit code only, the x86_64 twin of the Windows build
# (build/win64) runs under wine64 (prefix build/wine64), and the i686
# programs are read, not run: headers, imports, resources, the stub's size
# (scripts/test-i686-vm.sh runs them in an emulated machine). Wine gets an
# Xvfb display of its own and a wineserver that this script starts and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh test
. scripts/wine-session.sh
detect_wine_kind
if [ "$WINE_KIND" = none ]; then
  echo "The Windows tests cannot run: $WINE_KIND_WHY." >&2
  exit 1
fi
if [ "$WINE_KIND" = win64 ]; then
  bash scripts/build.sh twin
else
  bash scripts/build.sh
fi
out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)

start_wine_session "$out" 91 "$WINE_KIND"

# Each ctest pass writes its results as JUnit XML; the closing line counts
# those, and any pass that fails makes the exit status 1.
results="$out/results"
rm -rf "$results"
mkdir -p "$results"
status=0
passed=0
failed=0
run_ctest() {  # NAME, then ctest's arguments
  local name=$1
  shift
  ctest "$@" --output-on-failure --output-junit "$results/$name.xml" || status=1
}
run_ctest native --test-dir "$out/native" -j "$(nproc)"
if [ "$WINE_KIND" = win32 ]; then
  run_ctest win32 --test-dir "$out/win32"
  windows_way="Windows tests: the i686 programs ran under wine32, because $WINE_KIND_WHY."
else
  run_ctest win32-static --test-dir "$out/win32" -L static
  run_ctest win64 --test-dir "$out/win64"
  windows_way="Windows tests: the x86_64 twin ran under wine64 and the i686 programs were only \
read, because $WINE_KIND_WHY; scripts/test-i686-vm.sh runs them in an emulated machine."
fi

# The sanitizer pass: undefined behaviour stops a test (the build says
# -fno-sanitize-recover), and leaks fail it. Impossible sizes must still
# come back as null from calloc, as AllocateBlock promises, rather than
# abort. clang's AddressSanitizer, as for the fuzzer: GCC 12's reports a
# false stack-buffer-overflow whenever a thread is cancelled through
# glibc's setjmp-based cleanup, which code without exceptions uses. The
# stub it embeds is the one the Windows build made, as for the native build.
if CC=clang CXX=clang++ cmake -S . -B "$out/asan" -DCMAKE_BUILD_TYPE=Debug \
     -DVEZOVUD_SANITIZE=address,undefined -DVEZOVUD_DEPS_DIR="$out/deps" \
     -DVEZOVUD_STUB_IMAGE="$out/win32/extractor/VezovudStub.exe" >/dev/null &&
   cmake --build "$out/asan" -j "$(nproc)" >"$out/asan-build.log" 2>&1; then
  export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
  export UBSAN_OPTIONS=print_stacktrace=1
  run_ctest asan --test-dir "$out/asan" -j "$(nproc)"
  unset ASAN_OPTIONS UBSAN_OPTIONS
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

# One closing line over every pass (native, Wine, sanitizers, fuzzer), from
# the JUnit results: a test case passed when its status is "run".
read -r junit_passed junit_failed < <(python3 - "$results" <<'PY'
import glob, sys, xml.etree.ElementTree as tree
passed = failed = 0
for path in glob.glob(sys.argv[1] + "/*.xml"):
    for case in tree.parse(path).getroot().iter("testcase"):
        if case.get("status") == "run":
            passed += 1
        else:
            failed += 1
print(passed, failed)
PY
)
passed=$((passed + junit_passed))
failed=$((failed + junit_failed))
echo "$windows_way"
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
