#!/usr/bin/env bash
# Builds a release of Tolvane into dist/:
#   tolvane-VERSION.zip         tolvane-VERSION/ with tolvane.exe (every 32-bit
#                               Windows), tolvane64.exe (64-bit Windows),
#                               tolvane-help.html, README-zh.txt,
#                               README-en.txt, LICENSE.txt and SHA256SUMS
#   tolvane-VERSION-setup.exe   the installer (NSIS): tolvane64.exe on a 64-bit
#                               Windows, tolvane.exe elsewhere
#   SHA256SUMS                  sums of the archive and the installer
# VERSION is the project's VERSION in CMakeLists.txt; the script checks that
# both executables' version records carry it, and fails if not.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

BUILD="$ROOT/build/release-build"
DIST="$ROOT/dist"

fail() {
    echo "release: FAILED: $*" >&2
    exit 1
}

# The cross compiler and CMake, then zip and makensis.
./scripts/setup.sh
if ! command -v zip >/dev/null 2>&1 || ! command -v makensis >/dev/null 2>&1; then
    echo "release: installing zip and nsis"
    SUDO=""
    if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends zip nsis >/dev/null
fi

# Optimised builds of the two programs alone, stripped, without a link time.
BUILD64="$ROOT/build/release-build64"
for tree in "$BUILD:mingw-i686" "$BUILD64:mingw-x86_64"; do
    cmake -S . -B "${tree%%:*}" -DCMAKE_TOOLCHAIN_FILE="cmake/${tree##*:}.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF \
        "-DCMAKE_EXE_LINKER_FLAGS=-s -Wl,--no-insert-timestamp" >/dev/null
    cmake --build "${tree%%:*}" -j2 --target tolvane
done

# The version as CMake wrote it for the resource compiler.
version_header="$BUILD/generated/tolvane_version.h"
version_field() {
    sed -n "s/^#define TOLVANE_VERSION_$1 \"\{0,1\}\([0-9.]*\)\"\{0,1\}$/\1/p" "$version_header"
}
VERSION="$(version_field TEXT)"
MAJOR="$(version_field MAJOR)"
MINOR="$(version_field MINOR)"
PATCH="$(version_field PATCH)"
[ -n "$VERSION" ] && [ -n "$MAJOR" ] && [ -n "$MINOR" ] && [ -n "$PATCH" ] ||
    fail "no version in $version_header"
NAME="tolvane-$VERSION"
echo "release: Tolvane $VERSION"

STAGE="$BUILD/stage/$NAME"
rm -rf "$BUILD/stage"
mkdir -p "$STAGE"
cp "$BUILD/bin/tolvane.exe" "$STAGE/tolvane.exe"
cp "$BUILD64/bin/tolvane64.exe" "$STAGE/tolvane64.exe"

# Read the version record back out of the executable that ships, with
# binutils' own resource reader, and compare every version field.
check_version() {
    local record
    record="$("$2-windres" --input-format=coff -i "$1" -O rc)" ||
        fail "cannot read the resources of $1"
    local expected_numbers="$MAJOR, $MINOR, $PATCH, 0"
    local field found
    for field in FILEVERSION PRODUCTVERSION; do
        found="$(sed -n "s/^ *$field \(.*\)$/\1/p" <<<"$record")"
        [ "$found" = "$expected_numbers" ] ||
            fail "$1: $field is '$found', the release is $VERSION ($expected_numbers)"
    done
    for field in FileVersion ProductVersion; do
        found="$(sed -n "s/^ *VALUE \"$field\", \"\(.*\)\"$/\1/p" <<<"$record")"
        [ "$found" = "$VERSION" ] ||
            fail "$1: $field is '$found', the release is $VERSION"
    done
    echo "release: version record of $(basename "$1"): $expected_numbers, \"$VERSION\" - matches"
}
check_version "$STAGE/tolvane.exe" i686-w64-mingw32
check_version "$STAGE/tolvane64.exe" x86_64-w64-mingw32

# The help page lies beside the programs in the archive and the installed
# folder: their help command opens it. The READMEs beside it are texts for
# Windows: CRLF line ends; the Chinese README in code page 936
# (GBK), the code page of the program's own texts; the English one, which
# names the Chinese menu items, in UTF-8 with a byte-order mark, which
# Notepad recognises on any system language.
windows_text() {
    sed -e "s/@VERSION@/$VERSION/g" -e 's/$/\r/' "$1"
}
{
    printf '\xef\xbb\xbf'
    windows_text docs/release/README-en.txt
} >"$STAGE/README-en.txt"
windows_text docs/release/README-zh.txt | iconv -f UTF-8 -t GBK >"$STAGE/README-zh.txt" ||
    fail "README-zh.txt does not fit code page 936"
windows_text LICENSE >"$STAGE/LICENSE.txt"
cp "$BUILD/bin/tolvane-help.html" "$STAGE/tolvane-help.html"

# Reproducible archives: the files in a fixed order, each with the time of
# the last commit.
FILES=(tolvane.exe tolvane64.exe tolvane-help.html README-zh.txt README-en.txt LICENSE.txt)
stamp="$(git log -1 --format=%ct 2>/dev/null || date +%s)"
(cd "$STAGE" && sha256sum "${FILES[@]}" >SHA256SUMS)
find "$STAGE" -exec touch -d "@$stamp" {} +

rm -rf "$DIST"
mkdir -p "$DIST"
(cd "$BUILD/stage" && zip -q -X "$DIST/$NAME.zip" "$NAME/" "${FILES[@]/#/$NAME/}" "$NAME/SHA256SUMS")

makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DVERSION_QUAD="$MAJOR.$MINOR.$PATCH.0" \
    -DSTAGE="$STAGE" -DOUTFILE="$DIST/$NAME-setup.exe" scripts/installer.nsi ||
    fail "makensis"

(cd "$DIST" && sha256sum "$NAME.zip" "$NAME-setup.exe" >SHA256SUMS)
echo "release: built in $DIST"
(cd "$DIST" && ls -l && cat SHA256SUMS)
unzip -l "$DIST/$NAME.zip"
