# Sourced by the run and test scripts: a Wine prefix of the project's own under build/, and
# a virtual display when there is none.
#   prepare_wine PREFIX   makes the prefix if needed (64-bit, runs 32-bit programs too)
#   start_display         starts Xvfb unless DISPLAY works; sets DISPLAY and XVFB_PID
#   runs_32bit            true when this machine runs 32-bit programs, and so Wine runs the
#                         x86 build: natively or through qemu-i386 (tools/setup.sh)
#   emulated_32bit        true when 32-bit programs run through qemu-i386 (binfmt_misc)

# `wine` and `wineboot` through the loader this machine can run (tools/wine-bin/wine).
PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-bin:$PATH"
export PATH
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=""

start_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local number
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
}

stop_display() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}

prepare_wine() {
    export WINEPREFIX=$1
    if [ ! -f "$WINEPREFIX/.snoopsweep-ready-2" ]; then
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        # Wine draws the windows' frames itself and manages focus without a window manager,
        # as on a plain virtual display.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
        # A program that crashes ends at once with a backtrace on the terminal, rather than
        # waiting behind a crash dialog that nobody answers on a virtual display.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1
        wineserver -w
        # Wine's own fonts (MS Sans Serif, Tahoma, Marlett for the caption buttons).
        cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        touch "$WINEPREFIX/.snoopsweep-ready-2"
    fi
}

# A Linux path as a Windows program sees it (drive Z: is the Linux root).
windows_path() {
    printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}

runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

emulated_32bit() {
    [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" = enabled ]
}
