# Sourced by the scripts that run Windows programs: starts an Xvfb display of
# its own, a persistent wineserver for the prefix <out>/wine (created once
# with wineboot), and stops both by process id when the calling script exits.
#   start_wine_session OUT FIRST_DISPLAY_NUMBER

xvfb_pid=""
server_pid=""

stop_wine_session() {
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

start_wine_session() {
  local out=$1 first=$2 display="" n
  for n in $(seq "$first" $((first + 99))); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      display=$n
      break
    fi
  done
  [ -n "$display" ] || { echo "no free X display number" >&2; return 1; }

  export DISPLAY=":$display"
  export WINEPREFIX="$out/wine"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win32
  trap stop_wine_session EXIT

  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  mkdir -p "$WINEPREFIX"
  wineserver -f -p >/dev/null 2>&1 &
  server_pid=$!
  if [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # Wine leaves captioned windows to a window manager and waits up to 2 s for
  # it whenever one is hidden or destroyed; Xvfb has none, so Wine is told to
  # manage (and draw) the windows itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}
