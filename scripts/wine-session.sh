# Sourced by the scripts that run Windows programs.
#
#   detect_wine_kind
#     Sets WINE_KIND to the Windows build this machine's Wine can run, and
#     WINE_KIND_WHY to one sentence saying why: "win32" where wine32's own
#     server starts (the machine runs 32-bit x86 code), else "win64" where
#     Debian's wine64 starts (the x86_64 twin of the Windows build), else
#     "none". Some kernels run 64-bit user code only: there every i386
#     program fails with "Exec format error", wine32 included.
#
#   start_wine_session OUT FIRST_DISPLAY_NUMBER KIND
#     Starts an Xvfb display of its own and a persistent wineserver for the
#     prefix OUT/wine (KIND win32) or OUT/wine64 (KIND win64), created once
#     with wineboot, and stops both when the calling script exits. Exports
#     VEZOVUD_WINE, the loader that runs a Windows program of that kind
#     (scripts/wine-run.sh and the end-to-end tests use it). Returns 1, with
#     one line on standard error saying why, when the display or the prefix
#     cannot be made.

readonly wine32_server=/usr/lib/wine/wineserver32
readonly wine64_loader=/usr/lib/wine/wine64
readonly wine64_server=/usr/lib/wine/wineserver64

xvfb_pid=""
server_pid=""
session_server=""

detect_wine_kind() {
  local said32 said64
  if said32=$("$wine32_server" --version 2>&1); then
    WINE_KIND=win32
    WINE_KIND_WHY="this machine runs 32-bit x86 code (wine32 starts: ${said32})"
    return 0
  fi
  said32=${said32##*: }
  [ -n "$said32" ] || said32="it is not installed"
  if [ -x "$wine64_loader" ] && said64=$("$wine64_server" --version 2>&1); then
    WINE_KIND=win64
    WINE_KIND_WHY="this machine runs no 32-bit x86 code (wine32 does not start: ${said32})"
  else
    WINE_KIND=none
    WINE_KIND_WHY="neither wine32 (${said32}) nor wine64 (${said64:-not installed}) starts here"
  fi
}

stop_wine_session() {
  if [ -n "$server_pid" ]; then
    "$session_server" -k 2>/dev/null || true
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}

start_wine_session() {
  local out=$1 first=$2 kind=$3 display="" n
  for n in $(seq "$first" $((first + 99))); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      display=$n
      break
    fi
  done
  [ -n "$display" ] || { echo "no free X display number" >&2; return 1; }

  export DISPLAY=":$display"
  # Wine names files on Linux in the locale's encoding; the tests' names
  # (accents, CJK, emoji) need UTF-8, which a bare environment lacks.
  case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
    *UTF-8* | *utf8*) ;;
    *) export LC_ALL=C.UTF-8 ;;
  esac
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  case "$kind" in
    win32)
      export WINEPREFIX="$out/wine" WINEARCH=win32 VEZOVUD_WINE=wine
      session_server=wineserver
      ;;
    win64)
      # The wine and wineboot wrappers reach for the 32-bit loader: the
      # 64-bit one is called by its path, and told to Wine's own helpers.
      export WINEPREFIX="$out/wine64" WINEARCH=win64 VEZOVUD_WINE="$wine64_loader"
      export WINELOADER="$wine64_loader" WINESERVER="$wine64_server"
      session_server=$wine64_server
      ;;
    *)
      echo "no Wine to run Windows programs with: $kind" >&2
      return 1
      ;;
  esac
  trap stop_wine_session EXIT

  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  mkdir -p "$WINEPREFIX"
  "$session_server" -f -p >/dev/null 2>&1 &
  server_pid=$!
  if [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    # wine64 reports a missing syswow64 helper here and goes on: the prefix
    # is judged by the file wineboot writes last, not by its exit status.
    "$VEZOVUD_WINE" wineboot -i >"$out/wineboot.log" 2>&1 || true
    if [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
      echo "wineboot could not make the Wine prefix $WINEPREFIX:" \
        "$(tail -n 1 "$out/wineboot.log")" >&2
      return 1
    fi
  fi
  # Wine leaves captioned windows to a window manager and waits up to 2 s for
  # it whenever one is hidden or destroyed; Xvfb has none, so Wine is told to
  # manage (and draw) the windows itself.
  "$VEZOVUD_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}
