#!/usr/bin/env bash
# Installs what is missing, builds, and starts Orvex under Wine: in a window
# when there is a display, otherwise under Xvfb, saving a screenshot of the
# window to build/orvex-window.png.
# The program runs in its own Wine prefix (build/wineprefix), never ~/.wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh --program-only
source tools/wine-env.sh

export WINEPREFIX=${ORVEX_PREFIX:-$(pwd)/build/wineprefix}
[ -f "$WINEPREFIX/system.reg" ] || orvex_new_prefix "$WINEPREFIX"
exe=build/i686/Orvex.exe

if [ -n "${DISPLAY:-}" ]; then
  exec wine "$exe"
fi

shot=$(pwd)/build/orvex-window.png
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine "$1" &
  # Wait for the window to be drawn on the virtual desktop.
  for _ in $(seq 1 100); do
    if xwininfo -root -tree 2>/dev/null | grep -q "\"Tarvik\""; then break; fi
    sleep 0.2
  done
  sleep 1
  import -window root "$2"
  wineserver -k
' _ "$exe" "$shot"
echo "Screenshot of the window: $shot"
