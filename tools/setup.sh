#!/usr/bin/env bash
# Installs what building and testing Snoopsweep needs on Debian, if it is missing.
# Runs as root (or through sudo); does nothing when everything is there.
#   SNOOPSWEEP_EMULATE_X86=1  runs 32-bit programs through qemu-user even where the kernel
#                             runs them itself, to try the emulated path
#   SNOOPSWEEP_SKIP_X86=1     leaves 32-bit programs as they are (the x86 tests are skipped)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

packages=(cmake make g++ libgtest-dev googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
          wine wine64 wine32:i386 fonts-wine xvfb x11-utils imagemagick
          clang libclang-rt-14-dev)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# Stops the setup with a message, one line per argument.
die() {
    printf 'setup: %s\n' "$1" >&2
    shift
    [ $# -eq 0 ] || printf '       %s\n' "$@" >&2
    exit 1
}

binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables go to qemu-i386; F opens the emulator once, at registration.
qemu_i386_rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
# A 32-bit x86 program of the setup's own that only exits (no Wine, no library). It lives under
# the build folder, since /tmp may forbid running programs.
probe_dir="$build_root/setup"
probe_bytes='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
backports_list=/etc/apt/sources.list.d/snoopsweep-backports.list

# Whether the kernel runs 32-bit x86 programs, natively or through a registered emulator.
# False only on "Exec format error"; any other failure to start the program stops the setup.
runs_i386() {
    local probe="$probe_dir/i386-exit" error
    mkdir -p "$probe_dir"
    # shellcheck disable=SC2059 # the bytes are printf escapes
    if ! printf "$probe_bytes" | cmp -s - "$probe"; then
        printf "$probe_bytes" >"$probe"
        chmod +x "$probe"
    fi
    error=$(export LC_ALL=C; "$probe" 2>&1) && return 0
    case $error in
        *"Exec format error"*) return 1 ;;
        *"Permission denied"*) die "cannot run programs from $probe_dir (mounted noexec?):" "$error" ;;
        *) die "the 32-bit check program in $probe_dir failed:" "${error:-exit status not 0}" ;;
    esac
}

# Whether i386 programs go to qemu-i386 through binfmt_misc.
emulated_i386() {
    [ "$(head -n 1 "$binfmt/qemu-i386" 2>/dev/null)" = enabled ]
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

# Whether the system's own sources include bookworm-backports.
system_has_backports() {
    grep -qsE '^[^#]*\sbookworm-backports(\s|$)' /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

# Takes the backports source away again, and the package lists its update fetched unless the
# system's own sources use them too.
remove_backports() {
    $sudo rm -f "$backports_list"
    system_has_backports || $sudo rm -f /var/lib/apt/lists/*bookworm-backports*
}

# qemu-user from bookworm-backports. Unless the system's own sources have that suite, its
# source is there for this install only: apt's sources and lists are left as they were.
install_qemu_user() {
    local install=(apt-get install -y -q --no-install-recommends
                   -o APT::Keep-Downloaded-Packages=false -t bookworm-backports qemu-user)
    if system_has_backports; then
        echo "Installing qemu-user from the system's bookworm-backports"
        $sudo "${install[@]}" ||
            die "installing qemu-user from bookworm-backports failed (apt-get update first?)"
        return 0
    fi
    local uri keyring
    read -r uri keyring < <(bookworm_source)
    echo "Installing qemu-user from bookworm-backports ($uri), whose source is removed again"
    trap remove_backports EXIT
    trap 'exit 130' INT TERM
    # Its options apply to this source alone (a mirror's snapshot may be past its Valid-Until).
    echo "deb [signed-by=$keyring check-valid-until=no] $uri bookworm-backports main" |
        $sudo tee "$backports_list" >/dev/null || die "cannot write $backports_list"
    $sudo apt-get update -q --error-on=any -o Dir::Etc::SourceList="$backports_list" \
        -o Dir::Etc::SourceParts=- -o APT::Get::List-Cleanup=0 ||
        die "apt-get update of bookworm-backports ($uri) failed"
    $sudo "${install[@]}" || die "installing qemu-user from bookworm-backports failed"
    remove_backports
    trap - EXIT INT TERM
}

on_bookworm() {
    # shellcheck disable=SC1091
    (. /etc/os-release && [ "${ID:-}" = debian ] && [ "${VERSION_CODENAME:-}" = bookworm ])
}

# qemu-user 8 or later: bookworm's own 7.2 takes over a minute to start each process. One
# already installed is kept as it is, whatever its version.
ensure_qemu_user() {
    local installed version=""
    if installed=$(dpkg-query -W -f='${db:Status-Status} ${Version}' qemu-user 2>/dev/null) &&
        [ "${installed%% *}" = installed ]; then
        version=${installed#* }
    fi
    if [ -n "$version" ]; then
        dpkg --compare-versions "$version" ge 1:8 ||
            die "qemu-user $version is installed, which takes over a minute to start each" \
                "32-bit process. Install qemu-user 8 or later in its place (e.g. from Debian's" \
                "bookworm-backports), or set SNOOPSWEEP_SKIP_X86=1 to test the x64 side alone."
    elif on_bookworm; then
        install_qemu_user
    else
        die "32-bit programs need qemu-user here, which this setup installs only on Debian 12" \
            "(bookworm). Install qemu-user 8 or later, providing /usr/bin/qemu-i386, and run" \
            "this again: it then registers qemu-i386 with binfmt_misc for i386 ELF files as" \
            "  printf '%s' '$qemu_i386_rule' > $binfmt/register" \
            "Or set SNOOPSWEEP_SKIP_X86=1 to test the x64 side alone."
    fi
    [ -x /usr/bin/qemu-i386 ] || die "qemu-user is installed but /usr/bin/qemu-i386 is missing"
}

# i386 ELF files handed to qemu-i386 by binfmt_misc. The kernel asks binfmt_misc before its own
# 32-bit support, so once registered every i386 program runs emulated. A restart drops it.
register_qemu_i386() {
    if [ ! -f "$binfmt/register" ]; then
        $sudo mount -t binfmt_misc binfmt_misc "$binfmt" ||
            die "cannot mount binfmt_misc on $binfmt"
    fi
    if [ ! -f "$binfmt/qemu-i386" ]; then
        printf '%s' "$qemu_i386_rule" | $sudo tee "$binfmt/register" >/dev/null ||
            die "cannot register qemu-i386 with binfmt_misc ($binfmt/register)"
    elif ! emulated_i386; then
        echo 1 | $sudo tee "$binfmt/qemu-i386" >/dev/null ||
            die "cannot enable qemu-i386 in binfmt_misc ($binfmt/qemu-i386)"
    fi
}

# Where the kernel runs no 32-bit programs (Wine's 32-bit side among them), they run through
# qemu-user. Done before the i386 packages go in, since some of their scripts run i386
# programs, and checked on every run.
ensure_i386_programs() {
    if [ "${SNOOPSWEEP_EMULATE_X86:-}" = 1 ]; then
        emulated_i386 && runs_i386 && return 0
        echo "Running 32-bit programs through qemu-user, as asked (SNOOPSWEEP_EMULATE_X86=1)"
    else
        runs_i386 && return 0
        echo "This kernel runs no 32-bit programs: setting up qemu-user for them"
    fi
    ensure_qemu_user
    register_qemu_i386
    emulated_i386 || die "qemu-i386 is not registered with binfmt_misc ($binfmt/qemu-i386)"
    runs_i386 || die "32-bit programs still do not run here, with qemu-i386 registered"
}

# Earlier versions of this setup left their backports source in place, for every package.
if [ -f "$backports_list" ]; then
    echo "Removing $backports_list, left by an earlier setup"
    remove_backports
fi
[ "${SNOOPSWEEP_SKIP_X86:-}" = 1 ] || ensure_i386_programs

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 || die "cannot add the i386 architecture"
fi
$sudo apt-get update -q || die "apt-get update failed"
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    die "installing ${missing[*]} failed"
