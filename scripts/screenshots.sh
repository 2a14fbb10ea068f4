#!/usr/bin/env bash
# Photographs the two windows of the window layer's sample program under
# Wine with an Xvfb display of its own: the Maker layout and the stub layout.
# PNGs go to <build>/screenshots/: maker.png, stub.png (each window cut
# out of the screen) and maker-about.png (the About box over the Maker window).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
sample="$out/win32/tests/sample_window.exe"
if [ ! -f "$sample" ]; then
  cmake -S . -B "$out/win32" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DVEZOVUD_DEPS_DIR="$out/deps" \
    -DVEZOVUD_NATIVE_TOOL="$out/native/cli/vezovud" -DVEZOVUD_SCREENSHOTS_DIR="$out/screenshots" \
    >/dev/null
  cmake --build "$out/win32" --target sample_window -j 2
fi
shots="$out/screenshots"
mkdir -p "$shots"

. scripts/wine-session.sh
start_wine_session "$out" 201
sample_pid=""
stop_all() {
  if [ -n "$sample_pid" ]; then kill "$sample_pid" 2>/dev/null || true; fi
  stop_wine_session
}
trap stop_all EXIT

# find_window TITLE: the X window id of the top-level window titled TITLE.
find_window() {
  local id=""
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.1
  done
  echo "$id"
}

# shoot KIND TITLE INNER_HEIGHT EXIT_X EXIT_Y: runs the sample, cuts its
# window out of a screenshot, then presses Exit (client coordinates).
shoot() {
  local kind=$1 title=$2 inner_height=$3 exit_x=$4 exit_y=$5
  wine "$sample" "$kind" 20 >/dev/null 2>&1 &
  sample_pid=$!
  local id
  id=$(find_window "$title")
  if [ -z "$id" ]; then
    echo "screenshots: the $kind window did not appear" >&2
    return 1
  fi
  sleep 1  # let every gadget paint
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  import -window root "$shots/$kind-screen.png"
  convert "$shots/$kind-screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$kind.png"
  echo "screenshots: $kind window ${WIDTH}x${HEIGHT} at ($X, $Y) -> $shots/$kind.png"

  # Client area inside the frame: 253 wide, centred; the title bar on top.
  local frame=$(( (WIDTH - 253) / 2 ))
  local top=$(( HEIGHT - inner_height - frame ))
  if [ "$kind" = maker ]; then
    # About (gadget 8 at 5,135, 60x20) shows the About box.
    xdotool mousemove --window "$id" $((frame + 35)) $((top + 145)) click 1
    local box
    box=$(find_window "About Vezovud")
    if [ -n "$box" ]; then
      sleep 0.5
      import -window root "$shots/maker-about-screen.png"
      local BX BY BW BH
      eval "$(xdotool getwindowgeometry --shell "$box" | grep -E '^(X|Y|WIDTH|HEIGHT)=' |
              sed 's/^X=/BX=/; s/^Y=/BY=/; s/^WIDTH=/BW=/; s/^HEIGHT=/BH=/')"
      convert "$shots/maker-about-screen.png" -crop "${BW}x${BH}+${BX}+${BY}" +repage \
        "$shots/maker-about.png"
      echo "screenshots: About box ${BW}x${BH} -> $shots/maker-about.png"
      xdotool key Return 2>/dev/null || true
      sleep 0.5
    fi
  fi
  xdotool mousemove --window "$id" $((frame + exit_x)) $((top + exit_y)) click 1
  for _ in $(seq 1 50); do
    kill -0 "$sample_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$sample_pid" 2>/dev/null; then
    echo "screenshots: the $kind window did not end on Exit" >&2
    kill "$sample_pid" 2>/dev/null || true
  else
    echo "screenshots: the $kind window ended on Exit"
  fi
  wait "$sample_pid" 2>/dev/null || true
  sample_pid=""
}

shoot maker "Vezovud v1.0" 161 155 145
shoot stub "Vezovud Archive" 125 140 110
