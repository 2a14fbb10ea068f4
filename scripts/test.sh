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

display=""
for n in $(seq 91 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=$n
    break
  fi
done
[ -n "$display" ] || { echo "test: no free X display number" >&2; exit 1; }

export DISPLAY=":$display"
export WINEPREFIX="$out/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32

xvfb_pid=""
server_pid=""
stop_services() {
  if [ -n "$server_pid" ]; then
    wineserver -k 2>/dev/null || true
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap stop_services EXIT

Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!

mkdir -p "$WINEPREFIX"
wineserver -f -p >/dev/null 2>&1 &
server_pid=$!
if [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
  echo "test: creating the Wine prefix"
  wineboot -i >/dev/null 2>&1
fi
# Wine leaves captioned windows to a window manager and waits up to 2 s for
# it whenever one is hidden or destroyed; Xvfb has none, so Wine is told to
# manage (and draw) the windows itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

log="$out/test.log"
: > "$log"
status=0
ctest --test-dir "$out/native" --output-on-failure -j "$(nproc)" 2>&1 | tee -a "$log" || status=1
ctest --test-dir "$out/win32" --output-on-failure 2>&1 | tee -a "$log" || status=1

# One closing line over both targets.
passed=0
failed=0
while read -r fail total; do
  passed=$((passed + total - fail))
  failed=$((failed + fail))
done < <(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$log")
echo "native and wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
