#!/usr/bin/env bash
# Takes the README's screenshots of Tolvane's windows under a virtual X
# server: docs/main-window.png (sorted list, one highlighted new process).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build -j2 --target tolvane >/dev/null

source scripts/wine-env.sh
trap stop_all EXIT
start_xvfb
start_wine
mkdir -p docs

key='HKCU\Software\Marvik\tolvane95'
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine reg add "$key" /v Colorize /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v WindowSize /d ' 760 420' /f >/dev/null 2>&1
wine reg add "$key" /v ColomnSize /d ' 130 60 80 440' /f >/dev/null 2>&1

# Sorted by name; after the first highlights expire a new process starts and
# is highlighted until the next tick.
wine build/bin/tolvane.exe &
sleep 7
wine start /min notepad.exe
sleep 2.2
import -window root -crop 760x420+0+0 docs/main-window.png
wine reg delete "$key" /f >/dev/null 2>&1 || true
echo "screenshots: docs/main-window.png"
