#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest. The test command has set
# VEZOVUD_WINE (the loader of the build's kind), WINEPREFIX, DISPLAY and
# started the wineserver; defaults keep it usable by hand.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "${VEZOVUD_WINE:-wine}" "$@"
