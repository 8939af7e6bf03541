#!/usr/bin/env bash
# Runs a scenario of e2e_test.exe in a copy of a test prefix. With
# "wineboot", its two halves run around "wineboot -r" (the system's restart).
# With "program", the scenario is one test: the program itself restarts the
# prefix when the user answers Yes, and the test sees the result in its own
# run (a later start of the prefix would carry out the queue by itself).
# With "once", it is one test and nothing restarts.
# The prefix is the 32-bit one ($WINEPREFIX), or with "win64" the 64-bit one
# ($ORVEX_PREFIX64), or with "win64-two-views" the 64-bit one whose registry
# views of Image File Execution Options are two keys.
# Usage: restart_test.sh E2E_TEST_EXE SCENARIO wineboot|program|once [win32|win64|win64-two-views]
set -euo pipefail
exe=$1 scenario=$2 how=$3 prefix=${4:-win32}
source "$(dirname "$0")/../tools/wine-env.sh"

# The shared prefix is left as it was: the scenario runs in a copy.
wineserver -w
source=$WINEPREFIX
if [ "$prefix" != win32 ]; then
  export WINEARCH=win64
  source=${ORVEX_PREFIX64:?the 64-bit prefix of the test run}
  WINEPREFIX=$source wineserver -w
fi
copy="${ORVEX_TEST_WORK:-$(mktemp -d)}/restart-$scenario"
rm -rf "$copy"
cp -a "$source" "$copy"
export WINEPREFIX="$copy"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$copy"' EXIT
[ "$prefix" = win64-two-views ] && orvex_separate_image_options "$copy"

# Each half must run its one test and pass it.
half() {
  local out
  out=$(wine "$exe" --gtest_also_run_disabled_tests --gtest_color=no \
          --gtest_filter="*.DISABLED_${1}${scenario}" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  grep -q '^\[  PASSED  \] 1 test\.' <<<"$out"
}

if [ "$how" != wineboot ]; then
  half ""
  exit
fi
status=0
half Before_ || status=1
wineserver -w
wineboot -r >/dev/null 2>&1
wineserver -w
half After_ || status=1
exit $status
