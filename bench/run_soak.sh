#!/usr/bin/env bash
# Builds Tolvane and the soak, then runs the soak under Wine on a virtual X
# server and prints its figures. Options go to the soak, for example
# --passes=2000 (default 10000) or --every=10. BUILD_DIR (default: build)
# chooses the build tree and with it the Wine prefix.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

source scripts/wine-env.sh
use_machine_tree
build_machine_tree soak_bench
trap stop_all EXIT
start_xvfb
start_wine

wine "$TREE/bin/soak_bench.exe" "$@"
