#!/usr/bin/env bash
# Installs, builds both targets and runs every test: the native tests, then
# the Windows tests under Wine. Wine gets its own prefix in build/wine, an
# Xvfb display of its own and a wineserver that this script starts and stops.
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

# One closing line over both targets (native and Wine).
passed=0
failed=0
while read -r fail total; do
  passed=$((passed + total - fail))
  failed=$((failed + fail))
done < <(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$log")
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
