#!/usr/bin/env bash
# Builds Tolvane and its fuzz driver, then feeds one million mutated inputs
# (COUNT overrides) to each reader of outside data under Wine, one reader
# after the other, with the seed SEED (default 1). Stops at the first
# finding, whose input is saved under $BUILD_DIR/fuzz-findings. The figures
# go to the terminal and to $BUILD_DIR/fuzz-figures.txt.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
COUNT="${COUNT:-1000000}"
SEED="${SEED:-1}"
READERS="${READERS:-perf perftitles ne version settings remote debugger}"

source scripts/wine-env.sh
use_machine_tree
build_machine_tree tvfuzz
trap stop_all EXIT
start_xvfb
start_wine

figures="$BUILD_DIR/fuzz-figures.txt"
: >"$figures"
for reader in $READERS; do
    wine "$TREE/bin/tvfuzz.exe" --reader="$reader" --count="$COUNT" --seed="$SEED" \
        --findings="$BUILD_DIR/fuzz-findings" | tee -a "$figures"
done
