#!/usr/bin/env bash
# Builds Tolvane and starts it under Wine: tolvane.exe, or tolvane64.exe in
# the 64-bit prefix where this machine cannot run 32-bit programs. Without a
# display it runs on a virtual X server, leaves a screenshot in
# build/screenshot.png and ends.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
cd "$ROOT"

./scripts/setup.sh
source scripts/wine-env.sh
use_machine_tree
build_machine_tree tolvane

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    start_wine "$TREE_PREFIX"
    wine "$TREE/bin/$PROGRAM"
    exit 0
fi

trap stop_all EXIT
start_xvfb
start_wine "$TREE_PREFIX"
wine "$TREE/bin/$PROGRAM" &
sleep "${TOLVANE_SHOT_DELAY:-6}"
import -window root build/screenshot.png
echo "run.sh: $PROGRAM ran; screenshot written to build/screenshot.png"
