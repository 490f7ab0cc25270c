#!/usr/bin/env bash
# Builds Tolvane and the benchmarks, then runs the benchmarks under
# Wine on a virtual X server and prints their figures. BUILD_DIR (default: build)
# chooses the build tree and with it the Wine prefix.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTOLVANE_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j2

source scripts/wine-env.sh
trap stop_all EXIT
start_xvfb
start_wine

wine "$BUILD_DIR/bin/refresh_bench.exe"
# The same pass over 64-bit helpers in the 64-bit prefix.
if [ -f "$BUILD_DIR/bin/tvhelper64.exe" ] && [ -d "$WINEPREFIX64" ]; then
    WINEPREFIX="$WINEPREFIX64" wine "$BUILD_DIR/bin/refresh_bench.exe" --helpers64
fi
wine "$BUILD_DIR/bin/detail_bench.exe"
wine "$BUILD_DIR/bin/usage_bench.exe"
