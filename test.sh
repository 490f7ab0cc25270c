#!/usr/bin/env bash
# Builds Tolvane and its tests, then runs every test under Wine on a virtual
# X server. Exits non-zero on any failure.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
cd "$ROOT"

./scripts/setup.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTOLVANE_TESTS=ON >/dev/null
cmake --build build -j2

source scripts/wine-env.sh
trap stop_all EXIT
start_xvfb
start_wine

ctest --test-dir build --output-on-failure --timeout 300 "$@"
