#!/usr/bin/env bash
# Builds Tolvane (tolvane.exe and tolvane64.exe) and both test suites, then
# runs them under Wine, each prefix on a virtual X server of its own: the
# 32-bit suite natively where 32-bit programs run, through emulation where
# the kernel refuses them (or TOLVANE_NO_32BIT=1 is set), and the 64-bit
# suite in the 64-bit prefix. Exits non-zero on any failure, when no test
# ran, or when a suite that should have run did not.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
cd "$ROOT"

./scripts/setup.sh
source scripts/wine-env.sh
trap stop_all EXIT
trap 'exit 130' INT TERM
choose_32bit_route
echo "test.sh: $TOLVANE_32BIT_ROUTE_TEXT"
build_both --tests

start_xvfb
start_wine

status=0
if [ "$TOLVANE_32BIT_ROUTE" != none ]; then
    echo "test.sh: the 32-bit suite ($TOLVANE_32BIT_ROUTE)"
    started=$SECONDS
    DISPLAY="$DISPLAY32" run32 ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error \
        --timeout 300 "$@" || status=1
    echo "test.sh: the 32-bit suite took $((SECONDS - started)) s"
fi
echo "test.sh: the 64-bit suite"
started=$SECONDS
# Where 32-bit programs run by either route, the 64-bit suite also reads a
# 32-bit helper.
DISPLAY="$DISPLAY64" WINEPREFIX="$WINEPREFIX64" run32 ctest --test-dir "$BUILD_DIR64" \
    --output-on-failure --no-tests=error --timeout 300 "$@" || status=1
echo "test.sh: the 64-bit suite took $((SECONDS - started)) s"
echo "test.sh: $TOLVANE_32BIT_ROUTE_TEXT"
exit "$status"
