#!/usr/bin/env bash
# Tries the release built by scripts/release.sh as a new user would, on a
# fresh 32-bit Wine prefix (build/installer-check/prefix, code page 936),
# where it installs tolvane.exe, then on a fresh 64-bit one
# (build/installer-check/prefix64), where it installs tolvane64.exe:
# checks the archive's sums, installs silently, checks the files, the Start
# menu entry, the Add/Remove Programs entry and the installed executable's
# version record, starts Tolvane from its Start menu entry and waits for its
# main window (screenshot in build/installer-check/running-ARCH.png), opens its
# help, which shows the installed help page, ends it,
# uninstalls silently, and checks that nothing of Tolvane is left: no file
# the install added, no Start menu entry, no registry value naming it.
# Exits non-zero on the first failed check. The installer is a 32-bit
# program: on a machine that cannot run 32-bit programs only the archive is
# checked, and the script says so. --arch=win64 runs the 64-bit round alone.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

CHECK="$ROOT/build/installer-check"
DIST="$ROOT/dist"

ARCH=win32
[ "${1:-}" = --arch=win64 ] && ARCH=win64

fail() {
    echo "check-installer: FAILED: $*" >&2
    exit 1
}
pass() {
    echo "check-installer: ok: $*"
}

shopt -s nullglob
installers=("$DIST"/tolvane-*-setup.exe)
[ "${#installers[@]}" = 1 ] || fail "no single installer in dist/: run scripts/release.sh first"
INSTALLER="${installers[0]}"
NAME="$(basename "$INSTALLER" -setup.exe)"
VERSION="${NAME#tolvane-}"
ARCHIVE="$DIST/$NAME.zip"
[ -f "$ARCHIVE" ] || fail "$ARCHIVE is missing"
echo "check-installer: $(basename "$INSTALLER") and $(basename "$ARCHIVE"), version $VERSION"

# The downloads' sums, then the archive's own.
(cd "$DIST" && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS does not match"
rm -rf "$CHECK"
mkdir -p "$CHECK/archive"
unzip -q "$ARCHIVE" -d "$CHECK/archive"
(cd "$CHECK/archive/$NAME" && sha256sum --quiet -c SHA256SUMS) ||
    fail "the archive's SHA256SUMS does not match its files"
pass "sums of the downloads and of the archive's files match"

for program in tolvane.exe tolvane64.exe; do
    [ -f "$CHECK/archive/$NAME/$program" ] || fail "the archive lacks $program"
done
pass "the archive holds tolvane.exe and tolvane64.exe"

./scripts/setup.sh
source scripts/wine-env.sh
detect_32bit
if [ "$TOLVANE_RUNS_32BIT" != 1 ]; then
    echo "check-installer: the installer is a 32-bit program and $TOLVANE_32BIT_WHY:" \
        "install, start and removal were not checked"
    exit 0
fi

# The small program that looks at the installed Tolvane from outside, of the
# width of the program installed.
if [ "$ARCH" = win64 ]; then
    PROGRAM=tolvane64.exe
    export WINEPREFIX="$CHECK/prefix64" WINEPREFIX64="$CHECK/prefix64"
    TREE="$ROOT/build64" TOOLCHAIN=cmake/mingw-x86_64.cmake
    # Its own programs through the 64-bit loader; the installer through the
    # system's 32-bit layer, as on Windows.
    wine_program() { "$WINE64" "$@"; }
else
    PROGRAM=tolvane.exe
    export WINEPREFIX="$CHECK/prefix"
    TREE="$ROOT/build" TOOLCHAIN=cmake/mingw-i686.cmake
    wine_program() { wine "$@"; }
fi
cmake -S . -B "$TREE" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DTOLVANE_TESTS=ON >/dev/null
cmake --build "$TREE" -j2 --target releasecheck >/dev/null
RELEASECHECK="$TREE/bin/releasecheck.exe"

# Without Wine's menu builder: it would copy the Start menu entries into this
# machine's own desktop menus, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap stop_all EXIT
start_xvfb
if [ "$ARCH" = win64 ]; then
    prepare_prefix "$WINEPREFIX" win64
    start_prefix "$WINEPREFIX"
else
    prepare_prefix "$WINEPREFIX" win32
    start_prefix "$WINEPREFIX"
fi

DRIVE_C="$WINEPREFIX/drive_c"
PROGRAM_DIR="$DRIVE_C/Program Files/Tolvane"
WIN_PROGRAM_DIR='C:\Program Files\Tolvane'
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane'
SETTINGS_KEY='HKCU\Software\Marvik\tolvane95'

# Every file of the prefix apart from the temporary folders, to compare after
# the uninstall.
list_files() {
    (cd "$DRIVE_C" && find . -type f -o -type l) | grep -v -i -E '/temp/' | sort
}
key_exists() {
    wine_program reg query "$1" </dev/null >/dev/null 2>&1
}

list_files >"$CHECK/files-before.txt"

# Install, silently.
wine "$INSTALLER" /S </dev/null >/dev/null 2>&1 || fail "the installer ended with status $?"
for file in "$PROGRAM" uninstall.exe tolvane-help.html README-zh.txt README-en.txt LICENSE.txt; do
    [ -f "$PROGRAM_DIR/$file" ] || fail "$file is not in $WIN_PROGRAM_DIR"
done
cmp -s "$PROGRAM_DIR/$PROGRAM" "$CHECK/archive/$NAME/$PROGRAM" ||
    fail "the installed $PROGRAM is not the archive's"
for other in tolvane.exe tolvane64.exe; do
    [ "$other" = "$PROGRAM" ] || [ ! -e "$PROGRAM_DIR/$other" ] || fail "$other was installed too"
done
pass "installed into $WIN_PROGRAM_DIR: $(cd "$PROGRAM_DIR" && ls | tr '\n' ' ')"

mapfile -t links < <(find "$DRIVE_C" -path '*/Programs/Tolvane/*.lnk' | sort)
START_LINK=""
for link in "${links[@]}"; do
    [ "$(basename "$link")" = Tolvane.lnk ] && START_LINK="$link"
done
[ -n "$START_LINK" ] || fail "no Start menu entry Tolvane.lnk"
[ "${#links[@]}" = 2 ] || fail "expected the program's and the uninstaller's links, found ${#links[@]}"
pass "Start menu: $(for link in "${links[@]}"; do printf '%s; ' "${link#"$DRIVE_C"/}"; done)"

entry="$(wine_program reg query "$UNINSTALL_KEY" </dev/null 2>/dev/null | tr -d '\r')" ||
    fail "no Add/Remove Programs entry $UNINSTALL_KEY"
for value in "DisplayName REG_SZ Tolvane" "DisplayVersion REG_SZ $VERSION" \
    "UninstallString REG_SZ \"$WIN_PROGRAM_DIR\\uninstall.exe\""; do
    grep -q -F "$value" <<<"$(sed 's/  */ /g; s/^ //' <<<"$entry")" ||
        fail "the Add/Remove Programs entry lacks '$value'"
done
pass "Add/Remove Programs entry: Tolvane $VERSION, uninstalled by $WIN_PROGRAM_DIR\\uninstall.exe"

IFS=. read -r major minor patch <<<"$VERSION"
record="$(wine_program "$RELEASECHECK" version "$WIN_PROGRAM_DIR\\$PROGRAM" </dev/null 2>/dev/null |
    tr -d '\r')"
[ "$record" = "fixed $major.$minor.$patch.0 FileVersion $VERSION ProductVersion $VERSION" ] ||
    fail "version record of the installed $PROGRAM: '$record', the release is $VERSION"
pass "version record read by the system: $record"

# Start it as a user does, from the Start menu entry, and see its window.
wine_program start /unix "$START_LINK" </dev/null >/dev/null 2>&1
shown="$(wine_program "$RELEASECHECK" window </dev/null 2>/dev/null | tr -d '\r')" ||
    fail "Tolvane started from the Start menu shows no main window: $shown"
[ "${shown##*: }" = "$WIN_PROGRAM_DIR\$PROGRAM" ] ||
    fail "the Start menu entry started another program: $shown"
sleep 2
import -window root "$CHECK/running-$ARCH.png"
pass "started from the Start menu: $shown (screenshot build/installer-check/running-$ARCH.png)"

# Help > Help opens the help page installed beside it with the program set
# for web pages: a fresh prefix has no browser, so Notepad stands in.
wine_program reg add 'HKLM\Software\Classes\htmlfile\shell\open\command' /ve /f \
    /d 'notepad.exe "%1"' </dev/null >/dev/null 2>&1
helped="$(wine_program "$RELEASECHECK" help </dev/null 2>/dev/null | tr -d '\r')" ||
    fail "Help > Help: $helped"
grep -q 'tolvane-help' <<<"$helped" || fail "Help > Help opened no shipped help page: $helped"
pass "$helped"

# While it runs the installer refuses to replace it.
if wine "$INSTALLER" /S </dev/null >/dev/null 2>&1; then
    fail "the installer ran over a running Tolvane"
fi
pass "a silent install while Tolvane runs is refused"

ended="$(wine_program "$RELEASECHECK" exit </dev/null 2>/dev/null | tr -d '\r')" || fail "$ended"
key_exists "$SETTINGS_KEY" || fail "Tolvane wrote no settings when it ended"
pass "ended through File > Exit; its settings are in $SETTINGS_KEY"

# Uninstall, silently. The uninstaller runs on from a copy in the temporary
# folder: wait for it to finish its work and end.
wine "$PROGRAM_DIR/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller ended with status $?"
for ((tries = 0; tries < 120; tries++)); do
    if [ ! -e "$PROGRAM_DIR" ] && ! key_exists "$UNINSTALL_KEY" && ! key_exists "$SETTINGS_KEY" &&
        ! wine_program tasklist </dev/null 2>/dev/null | grep -q -i -E '^(au|un)_'; then
        break
    fi
    sleep 0.5
done
stop_all
trap - EXIT

# What is left, read from the prefix itself once Wine has written its
# registry files.
[ ! -e "$PROGRAM_DIR" ] || fail "$WIN_PROGRAM_DIR is still there: $(ls -A "$PROGRAM_DIR")"
left="$(find "$DRIVE_C" -iname '*tolvane*' | grep -v -i '/temp/' || true)"
[ -z "$left" ] || fail "left behind: $left"
list_files >"$CHECK/files-after.txt"
if ! diff "$CHECK/files-before.txt" "$CHECK/files-after.txt" >"$CHECK/files.diff"; then
    fail "files differ from before the install: $(cat "$CHECK/files.diff")"
fi
pass "no file is left: the prefix holds the same files as before the install"
registry="$(grep -i -n 'tolvane\|marvik' "$WINEPREFIX"/*.reg || true)"
[ -z "$registry" ] || fail "the registry still names Tolvane: $registry"
pass "no registry key or value names Tolvane or Marvik (uninstall entry and settings removed)"
echo "check-installer: PASSED ($ARCH: $PROGRAM)"
# Then the same on a 64-bit system.
if [ "$ARCH" = win32 ]; then
    exec "$0" --arch=win64
fi
