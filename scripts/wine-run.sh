#!/usr/bin/env bash
# Runs a Windows program under wine64, without a display and without
# questions: the emulator of the 64-bit Windows build's tests. The prefix is
# DC_WINEPREFIX (default: wineprefix beside the program), made on first use;
# the run is cut after DC_WINE_TIMEOUT seconds (default 900).
set -euo pipefail
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
export WINEPREFIX=${DC_WINEPREFIX:-$(cd "$(dirname "$1")" && pwd)/wineprefix}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # One set-up, even when several tests start at once.
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
  ) 9>"$WINEPREFIX.lock"
fi
exec timeout --kill-after=10 "${DC_WINE_TIMEOUT:-900}" "$WINE" "$@"
