#!/usr/bin/env bash
# Builds Orvex (and its tests) for 32-bit Windows into build/i686, and checks
# that the 64-bit build compiles without warnings into build/x86_64.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
for arch in i686 x86_64; do
  cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/$arch-w64-mingw32.cmake" >/dev/null
done

if [ "${1:-}" = --program-only ]; then
  cmake --build build/i686 -j"$jobs" --target Orvex
  exit 0
fi
cmake --build build/i686 -j"$jobs"
# The 64-bit build is checked for the program itself; the tests run 32-bit.
cmake --build build/x86_64 -j"$jobs" --target Orvex
