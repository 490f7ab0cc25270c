# Sourced by setup.sh and wine-env.sh: 32-bit programs through user-mode
# emulation, where the kernel refuses 32-bit x86 code.
#
# The emulator is qemu-i386 of version 8.1 or later: older ones do not know
# MAP_FIXED_NOREPLACE, Wine's start-up reservation of the address space then
# falls back to tens of thousands of map calls, and a prefix is never made.
# Where the machine has none, a static one is taken from the next Debian
# release's qemu-user package into build/emulator, with a sources list,
# state and cache of its own: the machine's package sources stay as they were.
#
# The emulator is registered for i386 binaries only around the commands of
# the 32-bit suite: in a user and mount namespace with a binfmt_misc
# instance of its own where the kernel allows it (6.7 and later), which
# nothing outside sees; otherwise, as root, in the system's binfmt_misc under
# a name of this run's own, removed again when the run ends.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
TOLVANE_EMULATOR_DIR="${TOLVANE_EMULATOR_DIR:-$BUILD_DIR/emulator}"
TOLVANE_EMULATOR_RELEASE="${TOLVANE_EMULATOR_RELEASE:-trixie}"

# An i386 ELF executable: class 32-bit, little-endian, type executable or
# shared object, machine i386. The kernel reads the \x escapes itself.
TOLVANE_BINFMT_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
TOLVANE_BINFMT_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The name of a registration in the system's binfmt_misc, when one was made,
# and whether this run mounted that file system.
TOLVANE_BINFMT_GLOBAL="${TOLVANE_BINFMT_GLOBAL:-}"
TOLVANE_BINFMT_MOUNTED="${TOLVANE_BINFMT_MOUNTED:-}"

# Prints the version of a qemu-i386 ("10.0.13"), or nothing.
emulator_version() {
    "$1" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9][0-9.]*\).*$/\1/p'
}

# Whether a qemu-i386 can run Wine: version 8.1 or later. Says why not.
emulator_usable() {
    local version major minor
    version="$(emulator_version "$1")"
    if [ -z "$version" ]; then
        echo "emulator: $1 does not answer as qemu-i386" >&2
        return 1
    fi
    major="${version%%.*}"
    minor="${version#*.}"
    minor="${minor%%.*}"
    if [ "$major" -lt 8 ] || { [ "$major" = 8 ] && [ "$minor" -lt 1 ]; }; then
        echo "emulator: $1 is qemu-i386 $version; Wine needs 8.1 or later" \
            "(older ones lack MAP_FIXED_NOREPLACE and a prefix is never made)" >&2
        return 1
    fi
}

# Prints the path of a usable emulator: the project's own, then the
# machine's. Nothing when there is none.
find_emulator() {
    local candidate
    for candidate in "$TOLVANE_EMULATOR_DIR/qemu-i386" "$(command -v qemu-i386-static || true)" \
        "$(command -v qemu-i386 || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ] && emulator_usable "$candidate" 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

# The Debian archive the machine's own sources name, for the private list.
debian_archive() {
    local uri
    uri="$(grep -hE '^[[:space:]]*(URIs:|deb[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -oE 'https?://[^ ]+/debian/?( |$)' |
        head -n 1 | tr -d ' ' || true)"
    echo "${uri:-http://deb.debian.org/debian}"
}

# Gets a usable emulator into TOLVANE_EMULATOR_DIR unless one is there.
# Says why when none can be had; returns 1 then.
ensure_emulator() {
    local found
    if found="$(find_emulator)"; then
        return 0
    fi
    # Say why the machine's own are refused.
    local own
    for own in qemu-i386-static qemu-i386; do
        if command -v "$own" >/dev/null 2>&1; then emulator_usable "$(command -v "$own")" || true; fi
    done
    echo "emulator: fetching qemu-i386 from Debian $TOLVANE_EMULATOR_RELEASE's qemu-user into $TOLVANE_EMULATOR_DIR"
    local work="$TOLVANE_EMULATOR_DIR/apt"
    rm -rf "$work"
    mkdir -p "$work/etc/sources.list.d" "$work/state/lists/partial" "$work/cache/archives/partial" "$work/unpacked"
    echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_archive)" \
        "$TOLVANE_EMULATOR_RELEASE main" >"$work/etc/sources.list"
    local apt_options=(-o "Dir::Etc::sourcelist=$work/etc/sources.list" -o "Dir::Etc::sourceparts=$work/etc/sources.list.d"
        -o "Dir::State=$work/state" -o "Dir::Cache=$work/cache" -o "Dir::State::status=/var/lib/dpkg/status"
        -o "APT::Sandbox::User=$(id -un)" -o "APT::Architectures::=amd64")
    if ! (apt-get "${apt_options[@]}" update && cd "$work" && apt-get "${apt_options[@]}" download qemu-user) \
        >"$work/fetch.log" 2>&1; then
        echo "emulator: no emulator could be had (see $work/fetch.log):" \
            "$(grep -E '^(E|W):' "$work/fetch.log" | head -n 1)" >&2
        return 1
    fi
    dpkg-deb -x "$work"/qemu-user_*.deb "$work/unpacked"
    cp "$work/unpacked/usr/bin/qemu-i386" "$TOLVANE_EMULATOR_DIR/qemu-i386"
    rm -rf "$work"
    if ! emulator_usable "$TOLVANE_EMULATOR_DIR/qemu-i386"; then
        rm -f "$TOLVANE_EMULATOR_DIR/qemu-i386"
        return 1
    fi
    echo "emulator: qemu-i386 $(emulator_version "$TOLVANE_EMULATOR_DIR/qemu-i386") is in $TOLVANE_EMULATOR_DIR"
}

# The line a binfmt_misc register file takes for the emulator.
binfmt_line() {
    printf ':%s:M::%s:%s:%s:FP' "$1" "$TOLVANE_BINFMT_MAGIC" "$TOLVANE_BINFMT_MASK" "$2"
}

# Runs a command with i386 binaries going through the emulator, in a user
# and mount namespace whose binfmt_misc instance is its own. The command
# runs as the caller's own user id: as root inside the namespace first (to
# mount and register), then, for another user, in a nested namespace that
# maps the id back, so that Wine finds the same server folder as outside.
# Arguments: the emulator, then the command.
run_in_emulator_namespace() {
    local emulator="$1"
    shift
    unshare -U -r -m --propagation private bash -c '
        line="$1" uid="$2" gid="$3"
        shift 3
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || exit 125
        printf "%s" "$line" >/proc/sys/fs/binfmt_misc/register 2>/dev/null || exit 125
        if [ "$uid" != 0 ]; then
            exec unshare -U --map-user="$uid" --map-group="$gid" -- "$@"
        fi
        exec "$@"' tolvane-i386 "$(binfmt_line tolvane-i386 "$emulator")" "$(id -u)" "$(id -g)" "$@"
}

# Registers the emulator in the system's binfmt_misc for this run, as root.
register_emulator_globally() {
    local emulator="$1" sudo=""
    if [ "$(id -u)" != 0 ]; then
        sudo -n true 2>/dev/null || return 1
        sudo="sudo -n"
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || return 1
        TOLVANE_BINFMT_MOUNTED=1
    fi
    local name="tolvane-i386-$$"
    if ! binfmt_line "$name" "$emulator" | $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null 2>&1; then
        unregister_emulator
        return 1
    fi
    TOLVANE_BINFMT_GLOBAL="$name"
}

# Removes the registration register_emulator_globally made, if any.
unregister_emulator() {
    if [ -n "$TOLVANE_BINFMT_GLOBAL" ] && [ -e "/proc/sys/fs/binfmt_misc/$TOLVANE_BINFMT_GLOBAL" ]; then
        local sudo=""
        [ "$(id -u)" = 0 ] || sudo="sudo -n"
        echo -1 | $sudo tee "/proc/sys/fs/binfmt_misc/$TOLVANE_BINFMT_GLOBAL" >/dev/null 2>&1 || true
    fi
    TOLVANE_BINFMT_GLOBAL=""
    if [ -n "$TOLVANE_BINFMT_MOUNTED" ]; then
        local sudo=""
        [ "$(id -u)" = 0 ] || sudo="sudo -n"
        $sudo umount /proc/sys/fs/binfmt_misc 2>/dev/null || true
        TOLVANE_BINFMT_MOUNTED=""
    fi
}
