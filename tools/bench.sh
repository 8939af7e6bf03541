#!/usr/bin/env bash
# Builds Orvex and its benchmark, and runs the benchmark under Wine and Xvfb
# in a throwaway 32-bit prefix: the hijack scan against `reg query /s`,
# queuing into a long PendingFileRenameOperations against an empty one, and
# the start of Orvex.exe against notepad's, each as a ratio from one run.
# Not part of ctest; takes well under a minute.
#
#   tools/bench.sh [scan] [queue] [start]   (no argument: all three)
#
# The Wine processes run on one CPU (ORVEX_BENCH_CPUS, default 0; "all" for
# no pinning): a Wine program and the wineserver hand every registry call
# to each other, and spread over two CPUs their wake-ups made the same scan
# take anywhere from 0.35 s to 2 s from one run to the next.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
bash tools/build.sh --program-only
cmake --build build/i686 -j"$(nproc 2>/dev/null || echo 2)" --target orvex_bench Orvex

cpus=${ORVEX_BENCH_CPUS:-0}
pin=(taskset -c "$cpus")
[ "$cpus" = all ] && pin=()

work=$(mktemp -d /tmp/orvex-bench.XXXXXX)
export WINEPREFIX="$work/prefix"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
orvex_new_prefix "$WINEPREFIX"
# Wine's own crash debugger is a row of its own: the scan counts only the
# planted debuggers.
wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
wineserver -w
# A copy of notepad.exe signed as the tests sign theirs, for the scan of
# distinct signed programs.
mkdir -p "$work/signed"
sh tests/support/sign-program.sh "$work/signed" "$WINEPREFIX/drive_c/windows/system32/notepad.exe"
export ORVEX_BENCH_SIGNED="Z:$work/signed/signed-a.exe"

echo "Wine processes on CPUs: $cpus (of $(nproc) available)"
xvfb-run -a -s "-screen 0 1280x1024x24" "${pin[@]}" wine build/i686/tests/orvex_bench.exe "$@"
