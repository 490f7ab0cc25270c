#!/usr/bin/env bash
# Processor time of Tolvane at a 1-second refresh against the floor of any
# process list that reads the system's process table once a second (the
# test helper doing only that), one after the other on the same prefix, the
# same processes and the same machine: each one's own process plus the
# prefix's wineserver, read from /proc/PID/stat over a fixed span. Prints a
# table; always exits 0 unless the programs cannot be started. COUNTS
# (default "40 210") are the process counts of the prefix to measure at;
# SECONDS_PER_RUN (default 30) the span of one measurement; REPEATS
# (default 3) how many times each is measured at each count, the two taking
# turns, the figures being the means. Beside them: what the wineserver
# spends with neither running ("idle"), counted in both; Tolvane's own
# process alone.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
export BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
COUNTS="${COUNTS:-40 210}"
SPAN="${SECONDS_PER_RUN:-30}"
REPEATS="${REPEATS:-3}"

source scripts/wine-env.sh
use_machine_tree
build_machine_tree tolvane tvhelper >/dev/null
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

# The first process of this prefix whose command line matches the pattern:
# other prefixes on the machine may run programs of the same name.
prefix_pid() {
    local pid
    for pid in $(pgrep -f "$1"); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
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
    wine "$TREE/bin/tvhelper.exe" --lifetime=1 >/dev/null 2>&1 || true
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
        wine "$TREE/bin/tvhelper.exe" --lifetime=3600000 >/dev/null 2>&1 &
        helper_pids+=($!)
        have=$((have + 1))
    done
    sleep 10
}

percent() {
    awk -v t="$1" -v hz="$ticks_per_second" -v s="$SPAN" 'BEGIN {printf "%.2f", 100 * t / hz / s}'
}

# Percent of one core that a program and the wineserver used over the span,
# then the program's own process alone. The command `after_start` (may be
# empty) runs once the program is up.
measure() {
    local name=$1 after_start=$2; shift 2
    "$@" >/dev/null 2>&1 &
    local launcher=$!
    sleep 6
    if [ -n "$after_start" ]; then $after_start; fi
    sleep 2
    local pid server
    pid=$(prefix_pid "$name")
    server=$(server_pid)
    if [ -z "$pid" ] || [ -z "$server" ]; then
        echo "run_cpu: $name or the wineserver is not running" >&2
        exit 1
    fi
    local before own_before after own_after
    own_before=$(ticks "$pid")
    before=$(ticks "$pid" "$server")
    sleep "$SPAN"
    after=$(ticks "$pid" "$server")
    own_after=$(ticks "$pid")
    kill "$pid" 2>/dev/null || true
    kill "$launcher" 2>/dev/null || true
    wait "$launcher" 2>/dev/null || true
    sleep 2
    echo "$(percent $((after - before))) $(percent $((own_after - own_before)))"
}

# What the wineserver spends over the span with neither program running.
measure_idle() {
    local server before
    server=$(server_pid)
    before=$(ticks "$server")
    sleep "$SPAN"
    percent $(($(ticks "$server") - before))
}

mean() {
    tr ' ' '\n' <<<"$*" | awk 'NF {sum += $1; n++} END {printf "%.2f", n ? sum / n : 0}'
}

printf '%-10s | %-10s | %-10s | %-6s | %-8s | %s\n' processes Tolvane floor ratio idle 'Tolvane own'
for count in $COUNTS; do
    fill_to "$count"
    shown=$(($(process_count) + 1))
    tolvane=() tolvane_own=() floor=()
    for ((run = 0; run < REPEATS; run++)); do
        # The two take turns, so that a change of the machine's load falls
        # on both alike.
        if ((run % 2 == 0)); then order="tolvane floor"; else order="floor tolvane"; fi
        for program in $order; do
            case $program in
            tolvane)
                read -r total own < <(measure "${PROGRAM//./\\.}" '' wine "$TREE/bin/$PROGRAM")
                tolvane+=("$total") tolvane_own+=("$own")
                ;;
            floor)
                read -r total own < <(measure 'tablepoll' '' wine "$TREE/bin/tvhelper.exe" \
                    --tablepoll=1000 --lifetime=3600000)
                floor+=("$total")
                ;;
            esac
            echo "run_cpu: $shown processes, $program: $total % with the wineserver, $own % alone" >&2
        done
    done
    # After the runs: right after the fill the new helpers are still settling.
    idle=$(measure_idle)
    a=$(mean "${tolvane[@]}") b=$(mean "${floor[@]}")
    ratio=$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}')
    printf '%-10s | %-8s %% | %-8s %% | %-5sx | %-6s %% | %s %%\n' "$shown" "$a" "$b" "$ratio" \
        "$idle" "$(mean "${tolvane_own[@]}")"
done
