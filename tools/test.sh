#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine (in a
# throwaway 32-bit prefix, and a 64-bit one for the tests of 64-bit Windows)
# and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/setup.sh
bash tools/build.sh
source tools/wine-env.sh

work=$(mktemp -d /tmp/orvex-test.XXXXXX)
export WINEPREFIX="$work/prefix"
export ORVEX_PREFIX64="$work/prefix64"  # for the tests of 64-bit Windows
export ORVEX_TEST_WORK="$work"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  WINEARCH=win64 WINEPREFIX="$ORVEX_PREFIX64" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
orvex_new_prefix "$ORVEX_PREFIX64" win64 &
orvex_new_prefix "$WINEPREFIX"
wait

cd build/i686
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@"
