#!/usr/bin/env bash
# Builds Tolvane and the benchmarks, then runs the benchmarks under
# Wine on a virtual X server and prints their figures. BUILD_DIR (default: build)
# chooses the build tree and with it the Wine prefix. Where this machine
# cannot run 32-bit programs, the 64-bit build runs in the 64-bit prefix
# (BUILD_DIR64, default build64).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

source scripts/wine-env.sh
use_machine_tree
build_machine_tree
trap stop_all EXIT
start_xvfb
start_wine

wine "$TREE/bin/refresh_bench.exe"
# The same pass over 64-bit helpers in the 64-bit prefix, from the 32-bit
# program (the 64-bit program's own run above is one already).
if [ "$TREE" = "$BUILD_DIR" ] && [ -f "$TREE/bin/tvhelper64.exe" ] && [ -d "$WINEPREFIX64" ]; then
    DISPLAY="$DISPLAY64" WINEPREFIX="$WINEPREFIX64" wine "$TREE/bin/refresh_bench.exe" --helpers64
fi
wine "$TREE/bin/detail_bench.exe"
wine "$TREE/bin/usage_bench.exe"
