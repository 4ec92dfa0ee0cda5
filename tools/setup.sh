#!/usr/bin/env bash
# Installs what building and testing Snoopsweep needs on Debian, if it is missing.
# Runs as root (or through sudo); does nothing when everything is there.
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

packages=(cmake make g++ libgtest-dev googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
          wine wine64 wine32:i386 fonts-wine xvfb x11-utils imagemagick
          clang libclang-rt-14-dev)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# Whether the kernel runs 32-bit x86 programs, natively or through a registered emulator: a
# program of the setup's own that only exits (no Wine, no library).
runs_i386() {
    local probe
    probe=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    local status=0
    "$probe" 2>/dev/null || status=1
    rm -f "$probe"
    return "$status"
}

# The mirror and keyring of the system's own bookworm sources (one-line or deb822 files).
bookworm_source() {
    local file line uri="" keyring=""
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        line=$(grep -E '^deb(\s+\[[^]]*\])?\s+\S+\s+bookworm(\s|$)' "$file" | head -n 1 || true)
        if [ -n "$line" ]; then
            uri=$(sed -E 's/^deb(\s+\[[^]]*\])?\s+(\S+).*/\2/' <<<"$line")
            keyring=$(grep -oE 'signed-by=[^] ]+' <<<"$line" | head -n 1 | cut -d= -f2 || true)
            break
        fi
    done
    if [ -z "$uri" ]; then
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            # The first stanza whose suites include bookworm itself.
            read -r uri keyring < <(awk '
                BEGIN { RS = ""; FS = "\n" }
                {
                    u = ""; k = ""; s = 0
                    for (i = 1; i <= NF; i++) {
                        if ($i ~ /^URIs:/) { split(substr($i, 6), a, " "); u = a[1] }
                        if ($i ~ /^Signed-By:/) { k = substr($i, 11); gsub(/ /, "", k) }
                        if ($i ~ /^Suites:/ && (" " substr($i, 8) " ") ~ / bookworm /) s = 1
                    }
                    if (s && u != "") { print u, k; exit }
                }' "$file") || true
            [ -n "$uri" ] && break
        done
    fi
    echo "${uri:-http://deb.debian.org/debian} ${keyring:-/usr/share/keyrings/debian-archive-keyring.gpg}"
}

# Where the kernel's 32-bit emulation is off, 32-bit programs (Wine's 32-bit side among them)
# run through qemu-user: the static qemu-i386 of bookworm-backports (bookworm's own takes over
# a minute to start a process), with i386 ELF files handed to it by binfmt_misc. Registered
# before the i386 packages go in, since some of their scripts run i386 programs. A restart of
# the machine drops the registration: this runs every time and redoes what is missing.
ensure_i386_programs() {
    runs_i386 && return 0
    echo "This kernel runs no 32-bit programs: setting up qemu-user for them"
    if ! [ -x /usr/bin/qemu-i386 ] || ! dpkg --compare-versions \
        "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || echo 0)" ge 1:8; then
        local uri keyring
        read -r uri keyring < <(bookworm_source)
        echo "deb [signed-by=$keyring check-valid-until=no] $uri bookworm-backports main" |
            $sudo tee /etc/apt/sources.list.d/snoopsweep-backports.list >/dev/null
        $sudo apt-get update -q
        $sudo apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user
    fi
    local binfmt=/proc/sys/fs/binfmt_misc
    [ -f "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -f "$binfmt/qemu-i386" ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' |
            $sudo tee "$binfmt/register" >/dev/null
    fi
    runs_i386 || echo "32-bit programs still do not run here: the x86 tests cannot run" >&2
}

ensure_i386_programs || true

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
