# Sourced by run.sh and test.sh: the project's own 32-bit Wine prefix with
# code page 936 (natively, or through emulation where the kernel refuses
# 32-bit code), a second, 64-bit prefix for the 64-bit program and the tests
# of 64-bit processes, a virtual X server of its own for each, and the
# clean-up of everything started here.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}"
# WINEARCH is given only where a prefix is made: set, it would keep Wine
# from using the other prefix.
unset WINEARCH
# The shape of every 64-bit Windows: 64-bit system processes, and Tolvane
# through the system's 32-bit layer.
export WINEPREFIX64="${WINEPREFIX64:-$BUILD_DIR/wineprefix64}"
# The 64-bit program's build tree, beside the 32-bit one.
export BUILD_DIR64="${BUILD_DIR64:-$ROOT/build64}"
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8
# Wine's menu builder would read every shortcut written to the Start menu
# folders (the autorun shortcut), racing the tests that remove it, and put
# links on this machine's own desktop menus.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

# The 64-bit loader, called directly: Debian's wine wrapper always takes the
# 32-bit one when it is installed.
WINE64=/usr/lib/wine/wine64

XVFB_PIDS=()

source "$ROOT/scripts/emulator.sh"

# Whether this machine runs 32-bit programs natively: some kernels refuse
# every 32-bit binary ("Exec format error"), and there the scripts that run
# one program (run.sh, the benchmarks, the soak, the screenshots) take the
# 64-bit one. TOLVANE_NO_32BIT=1 makes the scripts behave as on such a
# machine. Found out once; TOLVANE_RUNS_32BIT is 1 or 0 afterwards.
detect_32bit() {
    if [ -z "${TOLVANE_RUNS_32BIT:-}" ]; then
        if [ "${TOLVANE_NO_32BIT:-0}" = 1 ]; then
            TOLVANE_RUNS_32BIT=0
            TOLVANE_32BIT_WHY="TOLVANE_NO_32BIT=1 is set"
        elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
            TOLVANE_RUNS_32BIT=1
            TOLVANE_32BIT_WHY=""
        else
            TOLVANE_RUNS_32BIT=0
            local answer
            answer="$(LC_ALL=C LANGUAGE=C bash -c '/usr/lib/wine/wine --version' 2>&1 | head -n 1 | sed 's/^.*: //' || true)"
            TOLVANE_32BIT_WHY="this machine cannot run 32-bit programs (${answer:-the 32-bit loader fails})"
        fi
        export TOLVANE_RUNS_32BIT TOLVANE_32BIT_WHY
    fi
}

# How the 32-bit suite runs here, in TOLVANE_32BIT_ROUTE: "native", or
# "emulated" (TOLVANE_EMULATOR through a binfmt_misc registration: in a
# namespace of its own, TOLVANE_32BIT_VIA=namespace, or for this run in the
# system's, TOLVANE_32BIT_VIA=global, which stop_all removes), or "none".
# TOLVANE_EMULATION=global skips the namespace, to try the other way.
# TOLVANE_32BIT_ROUTE_TEXT says it in one line.
choose_32bit_route() {
    detect_32bit
    TOLVANE_32BIT_VIA=""
    TOLVANE_EMULATOR=""
    if [ "$TOLVANE_RUNS_32BIT" = 1 ]; then
        TOLVANE_32BIT_ROUTE=native
        TOLVANE_32BIT_ROUTE_TEXT="the 32-bit suite runs natively"
    elif ! TOLVANE_EMULATOR="$(find_emulator)"; then
        TOLVANE_32BIT_ROUTE=none
        TOLVANE_32BIT_ROUTE_TEXT="the 32-bit suite is built but not run: $TOLVANE_32BIT_WHY, and no emulator of version 8.1 or later could be had"
    else
        local how="qemu-i386 $(emulator_version "$TOLVANE_EMULATOR")"
        if [ "${TOLVANE_EMULATION:-}" != global ] &&
            run_in_emulator_namespace "$TOLVANE_EMULATOR" /usr/lib/wine/wine --version >/dev/null 2>&1; then
            TOLVANE_32BIT_ROUTE=emulated
            TOLVANE_32BIT_VIA=namespace
            how="$how, registered in a namespace of its own"
        elif register_emulator_globally "$TOLVANE_EMULATOR" && /usr/lib/wine/wine --version >/dev/null 2>&1; then
            TOLVANE_32BIT_ROUTE=emulated
            TOLVANE_32BIT_VIA=global
            how="$how, registered for this run as $TOLVANE_BINFMT_GLOBAL"
        else
            unregister_emulator
            TOLVANE_32BIT_ROUTE=none
            TOLVANE_32BIT_ROUTE_TEXT="the 32-bit suite is built but not run: $TOLVANE_32BIT_WHY, and the emulator could not be registered (no user namespaces, and not root)"
        fi
        if [ "$TOLVANE_32BIT_ROUTE" = emulated ]; then
            TOLVANE_32BIT_ROUTE_TEXT="the 32-bit suite runs through emulation ($TOLVANE_32BIT_WHY; $how)"
        fi
    fi
    export TOLVANE_32BIT_ROUTE TOLVANE_32BIT_VIA TOLVANE_EMULATOR TOLVANE_32BIT_ROUTE_TEXT
}

# Runs a command (a program, never a shell function) that starts 32-bit
# programs, on the route chosen.
run32() {
    if [ "${TOLVANE_32BIT_ROUTE:-}" = emulated ] && [ "$TOLVANE_32BIT_VIA" = namespace ]; then
        run_in_emulator_namespace "$TOLVANE_EMULATOR" "$@"
    else
        command "$@"
    fi
}

# Whether the 32-bit prefix is used: where 32-bit programs run natively, or
# where choose_32bit_route found another way.
uses_32bit_prefix() {
    detect_32bit
    [ "$TOLVANE_RUNS_32BIT" = 1 ] || [ "${TOLVANE_32BIT_ROUTE:-none}" = emulated ]
}

# A build tree copied or moved with its checkout names the old folder in its
# CMake cache, which CMake refuses: such a tree is configured again.
forget_moved_tree() {
    local cache="$1/CMakeCache.txt" home
    [ -f "$cache" ] || return 0
    home="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")"
    if [ -n "$home" ] && [ "$(cd "$home" 2>/dev/null && pwd -P)" != "$(cd "$ROOT" && pwd -P)" ]; then
        echo "wine-env: $1 was configured for $home; configuring it again for $ROOT"
        rm -rf "$cache" "$1/CMakeFiles"
    fi
}

# Configures and builds both programs' trees: the 32-bit one in BUILD_DIR,
# the 64-bit one in BUILD_DIR64 (its tests run in the 64-bit prefix).
# Arguments: --tests to build the tests too, then targets (all without).
build_both() {
    local tests=OFF
    if [ "${1:-}" = --tests ]; then
        tests=ON
        shift
    fi
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    forget_moved_tree "$BUILD_DIR"
    forget_moved_tree "$BUILD_DIR64"
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DTOLVANE_TESTS="$tests" -DTOLVANE_WINEPREFIX64="$WINEPREFIX64" >/dev/null
    cmake -S "$ROOT" -B "$BUILD_DIR64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
        -DTOLVANE_TESTS="$tests" -DTOLVANE_WINEPREFIX64="$WINEPREFIX64" >/dev/null
    cmake --build "$BUILD_DIR" -j2 "${targets[@]}"
    cmake --build "$BUILD_DIR64" -j2 "${targets[@]}"
}

# For the scripts that run one build with plain `wine` commands (run.sh,
# benchmarks, screenshots, the soak, fuzzing): the tree and the prefix of
# the program this machine runs. Where 32-bit programs cannot run, `wine`
# becomes the 64-bit loader and WINEPREFIX the 64-bit prefix. Sets TREE (the
# build tree), TOOLCHAIN (its CMake toolchain file), PROGRAM (the program's
# file name), WINE_LOADER (what `wine` runs, for commands started
# through env) and TREE_PREFIX (32 or 64: the prefix, for start_wine).
use_machine_tree() {
    detect_32bit
    if [ "$TOLVANE_RUNS_32BIT" = 1 ]; then
        TREE="$BUILD_DIR"
        TOOLCHAIN="$ROOT/cmake/mingw-i686.cmake"
        PROGRAM=tolvane.exe
        WINE_LOADER=wine
        TREE_PREFIX=32
    else
        echo "wine-env: $TOLVANE_32BIT_WHY; the 64-bit program runs in the 64-bit prefix"
        TREE="$BUILD_DIR64"
        TOOLCHAIN="$ROOT/cmake/mingw-x86_64.cmake"
        PROGRAM=tolvane64.exe
        WINE_LOADER="$WINE64"
        TREE_PREFIX=64
        export WINEPREFIX="$WINEPREFIX64"
        wine() { "$WINE64" "$@"; }
    fi
}

# Configures and builds the machine's tree (use_machine_tree) for the given
# targets (all without).
build_machine_tree() {
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    forget_moved_tree "$TREE"
    cmake -S "$ROOT" -B "$TREE" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DTOLVANE_TESTS=ON \
        -DTOLVANE_BENCH=ON -DTOLVANE_WINEPREFIX64="$WINEPREFIX64" >/dev/null
    cmake --build "$TREE" -j2 "${targets[@]}"
}

# The Wine loader for a prefix's programs, on that prefix's display: the
# 32-bit prefix's own loader (on the 32-bit route), or the 64-bit loader for
# the 64-bit prefix.
wine_in() {
    local prefix="$1"
    shift
    if [ "$prefix" = "$WINEPREFIX64" ]; then
        # Its 64-bit programs start 32-bit ones too (the prefix's own 32-bit
        # layer, the tests' 32-bit helper).
        DISPLAY="${DISPLAY64:-${DISPLAY:-}}" WINEPREFIX="$prefix" run32 "$WINE64" "$@"
    else
        DISPLAY="${DISPLAY32:-${DISPLAY:-}}" WINEPREFIX="$prefix" run32 wine "$@"
    fi
}

# Starts Xvfb on a display it picks itself and exports DISPLAY, or the
# variable named by the argument.
start_xvfb() {
    local variable="${1:-DISPLAY}" fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    # Benchmarks start some 300 processes at once, each a client of the server.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -maxclients 1024 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PIDS+=($!)
    local number=""
    read -r -t 20 number <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "wine-env: Xvfb did not start" >&2
        return 1
    fi
    export "$variable=:$number"
}

# Creates a prefix on first use (arguments: its folder and its WINEARCH):
# a virtual desktop with a taskbar and notification area for every program,
# which also spares each window the X server's two-second wait for a window
# manager when it hides; Wine's Marlett font, which draws the caption
# buttons and which this Wine does not find in its own data folder.
prepare_prefix() {
    local prefix="$1" arch="$2"
    if [ ! -f "$prefix/system.reg" ]; then
        echo "wine-env: creating the Wine prefix in $prefix"
        WINEARCH="$arch" wine_in "$prefix" wineboot -i </dev/null >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -w
    fi
    # A 64-bit prefix made where 32-bit programs could not run lacks the
    # system's 32-bit layer (its 32-bit half is installed by a 32-bit
    # program): it is brought up to date once they can run, in the mode in
    # which Wine makes a prefix (its 32-bit programs would not start without
    # the files being installed).
    if [ "$arch" = win64 ] && uses_32bit_prefix &&
        [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
        echo "wine-env: adding the 32-bit layer to the Wine prefix in $prefix"
        WINEBOOTSTRAPMODE=1 wine_in "$prefix" wineboot -u </dev/null >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -w
    fi
    if [ ! -f "$prefix/.tolvane-desktop" ]; then
        wine_in "$prefix" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
            </dev/null >/dev/null 2>&1
        wine_in "$prefix" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /d 1280x1024 /f </dev/null >/dev/null 2>&1
        WINEPREFIX="$prefix" wineserver -w
        touch "$prefix/.tolvane-desktop"
    fi
    local fonts="$prefix/drive_c/windows/Fonts"
    if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
}

# Starts one persistent wineserver for a prefix and Wine's services
# detached from any pipe (a service holding the caller's pipe would keep
# ctest waiting for ever).
start_prefix() {
    WINEPREFIX="$1" wineserver -p
    wine_in "$1" wineboot </dev/null >/dev/null 2>&1 || true
    # The virtual desktop too: started by the first program that shows a
    # window, it would hold that program's output open for ever, and ctest
    # would wait for it until the test's time ran out.
    local pattern='explorer.exe /desktop=Default' before tries
    before="$(pgrep -fc "$pattern" || true)"
    wine_in "$1" explorer.exe /desktop=Default,1280x1024 </dev/null >/dev/null 2>&1 &
    for ((tries = 0; tries < 300; tries++)); do
        [ "$(pgrep -fc "$pattern" || true)" -gt "$before" ] && break
        sleep 0.1
    done
}

# Starts the prefixes, each on a display of its own, so that neither's
# virtual desktop lies over the other's windows: the 32-bit prefix where it
# is used (uses_32bit_prefix), the 64-bit one where the 64-bit Wine is
# installed. Arguments "32" or "64" start that one only. DISPLAY32 and
# DISPLAY64 name their displays; DISPLAY stays the one the caller had, or
# the 32-bit prefix's where it is used. A second virtual X server is started
# only where the first is this script's own.
start_wine() {
    mkdir -p "$BUILD_DIR"
    local want32=0 want64=0
    if [ $# = 0 ]; then
        if uses_32bit_prefix; then want32=1; fi
        if [ -x "$WINE64" ]; then want64=1; fi
    fi
    local which
    for which in "$@"; do
        case "$which" in
        32) want32=1 ;;
        64) want64=1 ;;
        esac
    done
    if [ "$want32" = 1 ]; then
        export DISPLAY32="${DISPLAY32:-${DISPLAY:-}}"
    fi
    if [ "$want64" = 1 ] && [ -z "${DISPLAY64:-}" ]; then
        if [ "$want32" = 1 ] && [ "${#XVFB_PIDS[@]}" -gt 0 ]; then
            start_xvfb DISPLAY64
        else
            export DISPLAY64="${DISPLAY:-}"
        fi
    fi
    if [ "$want32" = 1 ]; then
        prepare_prefix "$WINEPREFIX" win32
        start_prefix "$WINEPREFIX"
    fi
    if [ "$want64" = 1 ]; then
        prepare_prefix "$WINEPREFIX64" win64
        start_prefix "$WINEPREFIX64"
    fi
}

stop_all() {
    wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX64" wineserver -k >/dev/null 2>&1 || true
    local pid
    for pid in "${XVFB_PIDS[@]}"; do
        kill "$pid" >/dev/null 2>&1 || true
        wait "$pid" 2>/dev/null || true
    done
    XVFB_PIDS=()
    unregister_emulator
}
