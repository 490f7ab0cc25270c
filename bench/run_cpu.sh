#!/usr/bin/env bash
# Processor time of Tolvane at a 1-second refresh against Wine's task
# manager, one after the other on the same prefix, the same processes and
# the same machine: each program's own process plus the prefix's wineserver,
# read from /proc/PID/stat over a fixed span. Prints a table; always exits 0
# unless the programs cannot be started. COUNTS (default "40 210") are the
# process counts of the prefix to measure at; SECONDS_PER_RUN (default 30)
# the span of one measurement.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
COUNTS="${COUNTS:-40 210}"
SPAN="${SECONDS_PER_RUN:-30}"

cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tolvane tvhelper >/dev/null

source scripts/wine-env.sh
trap 'stop_helpers; stop_all' EXIT
start_xvfb
start_wine

key='HKCU\Software\Marvik\tolvane95'
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine reg add "$key" /v RefreshTimes /d ' 0 1 1 1 1' /f >/dev/null 2>&1
wine reg add "$key" /v AllowMultiplyInstances /d 1 /f >/dev/null 2>&1
# Colouring would hold the timer at 3 seconds at least.
wine reg add "$key" /v Colorize /d 0 /f >/dev/null 2>&1

ticks_per_second=$(getconf CLK_TCK)

# The wineserver of this prefix: its working folder is named after the
# prefix's device and inode.
server_pid() {
    local want
    want=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for pid in $(pgrep wineserver); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in
        */"$want") echo "$pid"; return ;;
        esac
    done
}

# User and system ticks of the given processes, added up.
ticks() {
    local total=0
    for pid in "$@"; do
        local fields
        fields=$(sed 's/^.*) //' "/proc/$pid/stat")
        set -- $fields
        total=$((total + ${12} + ${13}))
    done
    echo "$total"
}

helper_pids=()
stop_helpers() {
    for pid in "${helper_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    helper_pids=()
    wine "$BUILD_DIR/bin/tvhelper.exe" --lifetime=1 >/dev/null 2>&1 || true
}

# Windows processes of this prefix now running: Wine's processes carry the
# prefix in their environment and a Windows program in their command line.
process_count() {
    local count=0
    for pid in $(pgrep -f '\.exe'); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            count=$((count + 1))
        fi
    done
    echo "$count"
}

# Starts helpers until the prefix runs `want` processes, the measured
# program included.
fill_to() {
    local want=$1 have
    have=$(process_count)
    while [ "$have" -lt $((want - 1)) ]; do
        wine "$BUILD_DIR/bin/tvhelper.exe" --lifetime=3600000 >/dev/null 2>&1 &
        helper_pids+=($!)
        have=$((have + 1))
    done
    sleep 10
}

# Percent of one core that a program and the wineserver used over the span.
measure() {
    local name=$1; shift
    "$@" >/dev/null 2>&1 &
    local launcher=$!
    sleep 8
    local pid
    pid=$(pgrep -f "$name" | head -n 1)
    local server
    server=$(server_pid)
    local before after
    before=$(ticks "$pid" "$server")
    sleep "$SPAN"
    after=$(ticks "$pid" "$server")
    kill "$pid" 2>/dev/null || true
    kill "$launcher" 2>/dev/null || true
    wait "$launcher" 2>/dev/null || true
    sleep 2
    awk -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$SPAN" \
        'BEGIN {printf "%.2f", 100 * t / hz / s}'
}

printf '%-10s | %-10s | %-10s | %s\n' processes Tolvane taskmgr ratio
for count in $COUNTS; do
    fill_to "$count"
    shown=$(($(process_count) + 1))
    tolvane=$(measure 'tolvane\.exe' wine "$BUILD_DIR/bin/tolvane.exe")
    taskmgr=$(measure 'taskmgr\.exe' wine taskmgr)
    ratio=$(awk -v a="$tolvane" -v b="$taskmgr" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}')
    printf '%-10s | %-8s %% | %-8s %% | %sx\n' "$shown" "$tolvane" "$taskmgr" "$ratio"
done
