# Sourced by run.sh and test.sh: the project's own 32-bit Wine prefix with
# code page 936, a virtual X server on a free display, and the clean-up of
# everything started here.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

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

# Creates the prefix on first use, then starts one persistent wineserver and
# Wine's services detached from any pipe (a service holding the caller's pipe
# would keep ctest waiting for ever). Every program runs on one virtual
# desktop with a taskbar and notification area; it also spares each window
# the X server's two-second wait for a window manager when it hides.
start_wine() {
    mkdir -p "$BUILD_DIR"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating the Wine prefix in $WINEPREFIX"
        wineboot -i </dev/null >/dev/null 2>&1 || true
        wineserver -w
    fi
    if [ ! -f "$WINEPREFIX/.tolvane-desktop" ]; then
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f \
            </dev/null >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.tolvane-desktop"
    fi
    # Wine draws the caption buttons with its Marlett font, which this Wine
    # does not find in its own data folder: give the prefix a copy.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
    wineserver -p
    wineboot </dev/null >/dev/null 2>&1 || true
}

stop_all() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" >/dev/null 2>&1 || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}
