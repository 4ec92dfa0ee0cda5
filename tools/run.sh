#!/usr/bin/env bash
# Builds what is missing and runs Snoopsweep under Wine.
#   tools/run.sh [x64|x86] [--keylogger]      (default x64)
# Without a display it starts a virtual one, saves a screenshot of the window to a path it
# prints, and keeps running until interrupted (Ctrl+C). With --keylogger it first installs
# the tests' keylogger (a global keyboard hook from a DLL dated 40 days back), so that
# Snoopsweep has something to find.
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

build=win64
keylogger=no
for argument in "$@"; do
    case "$argument" in
    x64) build=win64 ;;
    x86) build=win32 ;;
    --keylogger) keylogger=yes ;;
    *) echo "usage: tools/run.sh [x64|x86] [--keylogger]" >&2; exit 2 ;;
    esac
done

tools/setup.sh
tools/build.sh "$build"
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
if [ "$build" = win32 ] && ! runs_32bit; then
    echo "This machine runs no 32-bit programs (its kernel's 32-bit emulation is off), so Wine" >&2
    echo "cannot run the x86 build here: it is built in $build_root/win32." >&2
    exit 1
fi
start_display
prepare_wine "$build_root/wine-run"

stop() {
    kill "${wine_pid:-}" "${hook_pid:-}" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    stop_display
}
trap stop EXIT
trap 'exit 130' INT TERM

if [ "$keylogger" = yes ]; then
    spy="$build_root/keylogger-$build/spyhook.dll"
    mkdir -p "$(dirname "$spy")"
    cp "$build_root/$build/tests/kbhook_plain.dll" "$spy"
    touch -m -d '40 days ago' "$spy"
    wine "$build_root/$build/tests/hook_installer.exe" "$(windows_path "$spy")" snoopsweep-run-hook &
    hook_pid=$!
    echo "Test keylogger installed from $spy"
fi

program="$build_root/$build/Snoopsweep.exe"
wine "$program" &
wine_pid=$!

if [ -n "$XVFB_PID" ]; then
    shot="$build_root/screenshots/run-$build.png"
    mkdir -p "$(dirname "$shot")"
    for _ in $(seq 1 300); do
        xwininfo -root -tree 2>/dev/null | grep -q '"Snoopsweep"' && break
        kill -0 "$wine_pid" 2>/dev/null || break
        sleep 0.2
    done
    # Give the dialog a moment to paint (and to list the keylogger, which takes two passes),
    # then take its part of the virtual screen.
    if [ "$keylogger" = yes ]; then sleep 3; else sleep 1; fi
    geometry=$(xwininfo -name Snoopsweep 2>/dev/null |
        awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
             /Width:/{w=$2} /Height:/{h=$2} END{if (w) printf "%dx%d+%d+%d", w, h, x, y}')
    import -window root ${geometry:+-crop "$geometry"} "$shot"
    echo "Snoopsweep is running on the virtual display $DISPLAY; screenshot: $shot"
else
    echo "Snoopsweep is running on $DISPLAY."
fi
echo "Press Ctrl+C to stop."
wait "$wine_pid"
