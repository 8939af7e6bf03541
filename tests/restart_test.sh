#!/usr/bin/env bash
# Runs a restart scenario of e2e_test.exe in a copy of the test prefix. With
# "wineboot", its two halves run around "wineboot -r" (the system's restart).
# With "program", the scenario is one test: the program itself restarts the
# prefix when the user answers Yes, and the test sees the result in its own
# run (a later start of the prefix would carry out the queue by itself).
# Usage: restart_test.sh E2E_TEST_EXE SCENARIO wineboot|program
set -euo pipefail
exe=$1 scenario=$2 how=$3
source "$(dirname "$0")/../tools/wine-env.sh"

# The shared prefix is left as it was: the restart happens in a copy.
wineserver -w
copy="${ORVEX_TEST_WORK:-$(mktemp -d)}/restart-$scenario"
rm -rf "$copy"
cp -a "$WINEPREFIX" "$copy"
export WINEPREFIX="$copy"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$copy"' EXIT

# Each half must run its one test and pass it.
half() {
  local out
  out=$(wine "$exe" --gtest_also_run_disabled_tests --gtest_color=no \
          --gtest_filter="OrvexRestart.DISABLED_${1}${scenario}" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  grep -q '^\[  PASSED  \] 1 test\.' <<<"$out"
}

if [ "$how" = program ]; then
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
