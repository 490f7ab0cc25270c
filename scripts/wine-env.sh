# Sourced by run.sh and test.sh: the project's own 32-bit Wine prefix with
# code page 936, a second, 64-bit prefix for the tests of 64-bit processes,
# a virtual X server on a free display, and the clean-up of everything
# started here.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}"
# WINEARCH is given only where a prefix is made: set, it would keep Wine
# from using the other prefix.
unset WINEARCH
# The shape of every 64-bit Windows: 64-bit system processes, and Tolvane
# through the system's 32-bit layer.
export WINEPREFIX64="${WINEPREFIX64:-$BUILD_DIR/wineprefix64}"
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8
# Wine's menu builder would read every shortcut written to the Start menu
# folders (the autorun shortcut), racing the tests that remove it, and put
# links on this machine's own desktop menus.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

XVFB_PID=""

# Starts Xvfb on a display it picks itself and exports DISPLAY.
start_xvfb() {
    local fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    # Benchmarks start some 300 processes at once, each a client of the server.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -maxclients 1024 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local number=""
    read -r -t 20 number <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "wine-env: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
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
        WINEPREFIX="$prefix" WINEARCH="$arch" wineboot -i </dev/null >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -w
    fi
    if [ ! -f "$prefix/.tolvane-desktop" ]; then
        WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
            </dev/null >/dev/null 2>&1
        WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
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
    WINEPREFIX="$1" wineboot </dev/null >/dev/null 2>&1 || true
}

# The 32-bit prefix, and the 64-bit one where the 64-bit Wine is installed.
start_wine() {
    mkdir -p "$BUILD_DIR"
    prepare_prefix "$WINEPREFIX" win32
    start_prefix "$WINEPREFIX"
    if [ -x /usr/lib/wine/wine64 ]; then
        prepare_prefix "$WINEPREFIX64" win64
        start_prefix "$WINEPREFIX64"
    fi
}

stop_all() {
    wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX64" wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" >/dev/null 2>&1 || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}
