#!/usr/bin/env bash
# Photographs the main window with a few hijacks listed, the About box, and
# the main window again at 144 DPI (Windows at 150%), into docs/ (under
# Xvfb, in a throwaway prefix whose desktop holds the larger window).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/build.sh
source tools/wine-env.sh
work=$(mktemp -d /tmp/orvex-shots.XXXXXX)
export WINEPREFIX="$work/prefix"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
orvex_new_prefix "$WINEPREFIX"
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
shots="$WINEPREFIX/drive_c/orvex-shot"

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine "$1" --gtest_also_run_disabled_tests --gtest_filter=OrvexRestart.DISABLED_Screenshots &
  test_pid=$!
  for step in main about main144; do
    for _ in $(seq 1 300); do [ -f "$2/ready-$step" ] && break; sleep 0.2; done
    sleep 0.5
    import -window root -crop "$(cat "$2/ready-$step")" +repage "$3/$step.png"
    touch "$2/done-$step"
  done
  wait $test_pid
' _ build/i686/tests/e2e_test.exe "$shots" "$work"

mkdir -p docs
cp "$work/main.png" docs/main-window.png
cp "$work/about.png" docs/about-box.png
cp "$work/main144.png" docs/main-window-144dpi.png
echo "docs/main-window.png docs/about-box.png docs/main-window-144dpi.png"
