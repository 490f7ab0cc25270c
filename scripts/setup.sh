#!/usr/bin/env bash
# Installs the cross compiler, Wine, Xvfb and the rest of what building and
# testing need, when they are missing. Safe to run again: it does nothing when
# everything is there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need=0
for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-windres x86_64-w64-mingw32-g++-posix \
    x86_64-w64-mingw32-windres wine Xvfb xauth cmake convert import xdotool xwininfo python3; do
    command -v "$tool" >/dev/null 2>&1 || need=1
done
[ -d /usr/src/googletest/googletest ] || need=1
[ -e /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need=1
[ -e /usr/share/wine/fonts/marlett.ttf ] || need=1
dpkg -s wine32:i386 >/dev/null 2>&1 || need=1
# The 64-bit prefix's tests need the 64-bit Wine beside the 32-bit one.
[ -x /usr/lib/wine/wine64 ] || need=1

if [ "$need" = 1 ]; then
    echo "setup: installing build and test packages (first run takes a few minutes)"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
        binutils-mingw-w64-x86-64 wine wine32 wine64 xvfb xauth locales fonts-wqy-microhei fonts-wine
        imagemagick googletest cmake make xdotool x11-utils python3)
    # A package list that fails to download (a mirror in the middle of a
    # sync) leaves the others usable: go on with them.
    updated="all package lists updated"
    if ! $SUDO apt-get update -qq >/tmp/tolvane-apt-update.log 2>&1; then
        updated="some package lists failed to update ($(grep -c '^E: Failed' /tmp/tolvane-apt-update.log) failed)"
    fi
    # Without one architecture's list, the other's libraries may be newer than
    # their twins and the install does not resolve: then the release's own
    # versions are preferred.
    if $SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}" >/tmp/tolvane-apt-install.log 2>&1; then
        echo "setup: $updated; packages installed"
    else
        release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
        if [ -z "$release" ] || ! $SUDO apt-get install -y -qq --no-install-recommends -t "$release" \
            "${packages[@]}" >>/tmp/tolvane-apt-install.log 2>&1; then
            echo "setup: $updated; the install failed (see /tmp/tolvane-apt-install.log)" >&2
            tail -n 20 /tmp/tolvane-apt-install.log >&2
            exit 1
        fi
        echo "setup: $updated; packages installed with the $release release's own versions preferred"
    fi
fi

# Code page 936 needs the zh_CN.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "setup: generating the zh_CN.UTF-8 locale"
    $SUDO sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi

# Where the kernel refuses 32-bit code (or TOLVANE_NO_32BIT=1 plays such a
# machine), the 32-bit suite runs through a user-mode emulator.
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/emulator.sh"
if [ "${TOLVANE_NO_32BIT:-0}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    ensure_emulator || echo "setup: without an emulator the 32-bit suite cannot run here" >&2
fi
