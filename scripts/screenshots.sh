#!/usr/bin/env bash
# Photographs the two programs' windows under Wine with an Xvfb display of
# its own: the Maker (VezovudMaker.exe) and the stub (VezovudStub.exe, run
# bare: its window is the same with or without an archive behind it).
# PNGs go to <build>/screenshots/: maker.png, stub.png (each window cut
# out of the screen) and maker-about.png (the About box over the Maker window).
# Buttons are pressed where window_texts.exe finds them in the live window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
maker="$out/win32/maker/VezovudMaker.exe"
stub="$out/win32/extractor/VezovudStub.exe"
texts="$out/win32/tests/window_texts.exe"
if [ ! -f "$maker" ] || [ ! -f "$stub" ] || [ ! -f "$texts" ]; then
  cmake -S . -B "$out/win32" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DVEZOVUD_DEPS_DIR="$out/deps" \
    -DVEZOVUD_NATIVE_TOOL="$out/native/cli/vezovud" -DVEZOVUD_SCREENSHOTS_DIR="$out/screenshots" \
    >/dev/null
  cmake --build "$out/win32" --target VezovudMaker VezovudStub window_texts -j 2
fi
shots="$out/screenshots"
mkdir -p "$shots"

. scripts/wine-session.sh
start_wine_session "$out" 201
program_pid=""
stop_all() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
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

# press ID TITLE TEXT: clicks the centre of the button labelled TEXT in the
# window titled TITLE (X window ID). window_texts.exe gives the client size
# on its first line and each button's rectangle in client coordinates; the
# frame Wine draws has equal borders left, right and below.
press() {
  local id=$1 title=$2 text=$3 X Y WIDTH HEIGHT
  local found
  found=$(wine "$texts" "$title" 2>/dev/null | tr -d '\r' | awk -F '\t' -v text="$text" '
    NR == 1 { cw = $6; ch = $7 }
    NR > 1 && $1 == "Button" && $8 == text { x = int(($4 + $6) / 2); y = int(($5 + $7) / 2) }
    END { if (x != "") print cw, ch, x, y }')
  if [ -z "$found" ]; then
    echo "screenshots: no button \"$text\" in \"$title\"" >&2
    return 1
  fi
  local cw ch x y
  read -r cw ch x y <<<"$found"
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  local frame=$(( (WIDTH - cw) / 2 ))
  local top=$(( HEIGHT - ch - frame ))
  xdotool mousemove --window "$id" $((frame + x)) $((top + y)) click 1
}

# shoot KIND PROGRAM TITLE: runs the program, cuts its window out of a
# screenshot, then presses Exit.
shoot() {
  local kind=$1 program=$2 title=$3
  wine "$program" >/dev/null 2>&1 &
  program_pid=$!
  local id
  id=$(find_window "$title")
  if [ -z "$id" ]; then
    echo "screenshots: the $kind window did not appear" >&2
    return 1
  fi
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  # The stub's console window opens over it, a moment later: raise it and
  # click its caption, which brings it up without pressing anything.
  sleep 1  # let every gadget paint
  xdotool windowraise "$id"
  sleep 0.2
  xdotool mousemove --window "$id" $((WIDTH / 2)) 5 click 1
  sleep 0.5
  import -window root "$shots/$kind-screen.png"
  convert "$shots/$kind-screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$kind.png"
  echo "screenshots: $kind window ${WIDTH}x${HEIGHT} at ($X, $Y) -> $shots/$kind.png"

  if [ "$kind" = maker ]; then
    press "$id" "$title" About
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
  press "$id" "$title" Exit
  for _ in $(seq 1 50); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program_pid" 2>/dev/null; then
    echo "screenshots: the $kind window did not end on Exit" >&2
    kill "$program_pid" 2>/dev/null || true
  else
    echo "screenshots: the $kind window ended on Exit"
  fi
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
}

shoot maker "$maker" "Vezovud v1.0"
shoot stub "$stub" "Vezovud Archive"
