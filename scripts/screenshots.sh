#!/usr/bin/env bash
# Takes the README's screenshots of Tolvane's windows under a virtual X
# server, into docs/.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

source scripts/wine-env.sh
use_machine_tree
# "resource-columns" takes only the shots of the resource columns, "filter"
# only those of the filter box and the end of a process tree.
only="${1:-}"
build_machine_tree tolvane uidriver tvhelper vdesc >/dev/null
# The 64-bit program's own shots come from its tree in any case.
if [ "$TREE" != "$BUILD_DIR64" ]; then
    forget_moved_tree "$BUILD_DIR64"
    cmake -S . -B "$BUILD_DIR64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
    cmake --build "$BUILD_DIR64" -j2 --target tolvane uidriver >/dev/null
fi
trap stop_all EXIT
start_xvfb
start_wine
mkdir -p docs

key='HKCU\Software\Marvik\tolvane95'
settings() {
    wine reg delete "$key" /f >/dev/null 2>&1 || true
    wine reg add "$key" /v WindowSize /d ' 760 420' /f >/dev/null 2>&1
    wine reg add "$key" /v ColomnSize /d "$1" /f >/dev/null 2>&1
    wine reg add "$key" /v Colorize /d "$2" /f >/dev/null 2>&1
    wine reg add "$key" /v AllowMultiplyInstances /d 1 /f >/dev/null 2>&1
}
shot() {
    import -window root -crop "$1" "docs/$2"
    echo "screenshots: docs/$2"
}

# The resource columns, sorted by CPU with a busy helper on top, and the tray
# icon that shows the machine's load, with its tip under the pointer.
resource_shots() {
    settings ' 120 50 60 70 65 85 85 45 290' 0
    wine reg add "$key" /v WindowSize /d ' 900 420' /f >/dev/null 2>&1
    wine reg add "$key" /v ResourceColumns /d 1 /f >/dev/null 2>&1
    wine "$TREE/bin/tvhelper.exe" --busy --lifetime=40000 &
    wine "$TREE/bin/tvhelper.exe" --touch=100 --lifetime=40000 &
    sleep 2
    wine "$TREE/bin/$PROGRAM" &
    sleep 5
    # A figure column sorts the busiest first at the first click.
    wine "$TREE/bin/uidriver.exe" sort 3
    sleep 5
    shot 900x420+0+0 resource-columns.png
    # The notification area lies at the right end of the virtual desktop's
    # taskbar; the pointer rests on the icon until its tip shows.
    xdotool mousemove 1200 1014 sleep 0.3 mousemove 1268 1014 sleep 0.3 mousemove 1270 1015
    sleep 3
    shot 460x64+820+960 tray-load.png
    wine "$TREE/bin/uidriver.exe" command 40001
    sleep 2
    wine reg delete "$key" /f >/dev/null 2>&1 || true
}
# The main list filtered by the text "tvhelper" typed after Ctrl+E, with a
# helper three deep and a second child, then the question of 结束进程树 for
# the oldest of them (sorted by id, the first row).
filter_shots() {
    settings ' 130 60 80 440' 0
    wine "$TREE/bin/tvhelper.exe" --spawn=2,1 --lifetime=40000 &
    sleep 2
    wine "$TREE/bin/$PROGRAM" &
    sleep 5
    xdotool key ctrl+e sleep 0.5 type --delay 80 tvhelper
    sleep 2
    shot 760x420+0+0 filtered-list.png
    wine "$TREE/bin/uidriver.exe" sort 1
    sleep 1
    xdotool key Return sleep 0.5 key Home sleep 0.5 key shift+Delete
    sleep 2
    shot 820x580+0+0 tree-end-confirmation.png
    xdotool key Escape
    sleep 1
    # The second helper suspended, then the first selected: the second's row
    # is grayed.
    xdotool mousemove 40 110 click 1 sleep 0.5 key ctrl+p sleep 2.5 key Up
    sleep 1
    shot 760x420+0+0 suspended-process.png
    xdotool key ctrl+r
    wine "$TREE/bin/uidriver.exe" command 40001
    sleep 2
    wine reg delete "$key" /f >/dev/null 2>&1 || true
}
if [ "$only" = resource-columns ]; then
    resource_shots
    exit 0
fi
if [ "$only" = filter ]; then
    filter_shots
    exit 0
fi

# Main window, sorted by name: after the first highlights have expired a new
# process starts and stays highlighted until the next tick.
settings ' 130 60 80 440' 1
wine "$TREE/bin/$PROGRAM" &
sleep 7
# Notepad gets a small environment of its own: its start-up information is
# shown below, and this machine's environment is no business of the README.
env -i HOME="$HOME" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" WINEPREFIX="$WINEPREFIX" \
    WINEDEBUG="$WINEDEBUG" LANG="$LANG" LC_ALL="$LC_ALL" \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" "$WINE_LOADER" start /min notepad.exe
sleep 2.2
shot 760x420+0+0 main-window.png

# The version window of the first row.
wine "$TREE/bin/uidriver.exe" version
sleep 2
shot 900x700+0+0 version-window.png
wine "$TREE/bin/uidriver.exe" close
sleep 1

# The refresh-times dialog.
wine "$TREE/bin/uidriver.exe" command 40014
sleep 2
shot 900x700+0+0 refresh-times.png
wine "$TREE/bin/uidriver.exe" close
sleep 1

# The threads, modules and memory windows of the selected process.
for window in '40006 threads' '40007 modules' '40008 memory'; do
    set -- $window
    wine "$TREE/bin/uidriver.exe" command "$1"
    sleep 3
    shot 1280x720+0+0 "$2-window.png"
    wine "$TREE/bin/uidriver.exe" close
    sleep 1
done
# The process tree, and the terminate, priority and affinity dialogs of the
# selected process (closed without acting).
for window in '40022 process-tree' '40003 terminate-dialog' '40009 priority-dialog' \
    '40031 affinity-dialog'; do
    set -- $window
    wine "$TREE/bin/uidriver.exe" command "$1"
    sleep 3
    shot 1000x720+0+0 "$2.png"
    wine "$TREE/bin/uidriver.exe" close
    sleep 1
done
# The start-up information of notepad.
wine "$TREE/bin/uidriver.exe" type notepad
sleep 1
wine "$TREE/bin/uidriver.exe" command 40029
sleep 3
shot 1000x720+0+0 startup-info.png
wine "$TREE/bin/uidriver.exe" close
sleep 1

# With notepad selected: the applications window, the attach-debugger
# dialog (Wine's configured debugger; closed without starting it) and the
# About box.
for window in '40025 applications-window' '40005 attach-debugger' '40004 about-dialog'; do
    set -- $window
    wine "$TREE/bin/uidriver.exe" command "$1"
    sleep 3
    shot 1000x720+0+0 "$2.png"
    wine "$TREE/bin/uidriver.exe" close
    sleep 1
done

# The module usage window: two helpers load vdesc.dll; typing its name selects
# it, and the main list behind keeps only its two users.
vdesc="$(wine winepath.exe -w "$TREE/bin/vdesc.dll" 2>/dev/null | tr -d '\r')"
for i in 1 2; do wine "$TREE/bin/tvhelper.exe" "--load=$vdesc" --lifetime=60000 & done
sleep 3
wine "$TREE/bin/uidriver.exe" command 40023
sleep 4
wine "$TREE/bin/uidriver.exe" usage vdesc
sleep 2
shot 1280x720+0+0 usage-window.png
wine "$TREE/bin/uidriver.exe" close
sleep 1
wineserver -k; sleep 1; start_wine
resource_shots
# The helpers of the resource shots would be the oldest rows of the filter's.
wineserver -k; sleep 1; start_wine
filter_shots
wineserver -k; sleep 1; start_wine

# The Windows 95 family's list: a copy of the 32-bit program that Wine
# presents as Windows 98.
if [ "$TOLVANE_RUNS_32BIT" = 1 ]; then
    settings ' 130 60 90 50 50 340' 0
    cp "$TREE/bin/$PROGRAM" "$TREE/bin/tolvane98.exe"
    wine reg add 'HKCU\Software\Wine\AppDefaults\tolvane98.exe' /v Version /d win98 /f >/dev/null 2>&1
    wine "$TREE/bin/tolvane98.exe" &
    sleep 6
    shot 760x420+0+0 family95-list.png
    wine reg delete "$key" /f >/dev/null 2>&1 || true
fi

# tolvane64.exe in the 64-bit prefix: the system's processes and a 64-bit
# notepad, started as "notepad C:\x.txt" with a variable of its own, are
# 64-bit processes there, and the 64-bit program reads all of them.
wineserver -k >/dev/null 2>&1 || true
sleep 1
start_wine
wine_prefix="$WINEPREFIX"
export WINEPREFIX="$WINEPREFIX64"
settings ' 130 60 80 440' 0
export DISPLAY="$DISPLAY64"
env -i HOME="$HOME" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" WINEPREFIX="$WINEPREFIX" \
    WINEDEBUG="$WINEDEBUG" LANG="$LANG" LC_ALL="$LC_ALL" TOLVANE_SHOT=notepad64 \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" "$WINE64" notepad 'C:\x.txt' &
sleep 2
"$WINE64" "$BUILD_DIR64/bin/tolvane64.exe" &
sleep 6
shot 760x420+0+0 main-window-64bit.png
# The 64-bit notepad's modules, memory and start-up information.
"$WINE64" "$BUILD_DIR64/bin/uidriver.exe" type notepad
sleep 1
for window in '40007 modules-window-64bit 1024x640' '40008 memory-window-64bit 1280x720' \
    '40029 startup-info-64bit 1000x720'; do
    set -- $window
    "$WINE64" "$BUILD_DIR64/bin/uidriver.exe" command "$1"
    sleep 3
    shot "$3+0+0" "$2.png"
    "$WINE64" "$BUILD_DIR64/bin/uidriver.exe" close
    sleep 1
done
"$WINE64" reg delete "$key" /f >/dev/null 2>&1 || true
wineserver -k; sleep 1
export WINEPREFIX="$wine_prefix"
