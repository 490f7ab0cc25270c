#!/usr/bin/env bash
# Builds Tolvane and starts it under Wine. Without a display it runs on a
# virtual X server, leaves a screenshot in build/screenshot.png and ends.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
cd "$ROOT"

./scripts/setup.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build -j2 --target tolvane

source scripts/wine-env.sh
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    start_wine
    wine build/bin/tolvane.exe
    exit 0
fi

trap stop_all EXIT
start_xvfb
start_wine
wine build/bin/tolvane.exe &
sleep "${TOLVANE_SHOT_DELAY:-6}"
import -window root build/screenshot.png
echo "run.sh: screenshot written to build/screenshot.png"
