#!/usr/bin/env bash
# Builds what is missing and runs Snoopsweep under Wine.
#   tools/run.sh [x64|x86]      (default x64)
# Without a display it starts a virtual one, saves a screenshot of the window to a path it
# prints, and keeps running until interrupted (Ctrl+C).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Where builds go; another folder keeps a second checkout or work tree apart.
build_root=${SNOOPSWEEP_BUILD_DIR:-$root/build}
cd "$root"

case "${1:-x64}" in
x64) build=win64 ;;
x86) build=win32 ;;
*) echo "usage: tools/run.sh [x64|x86]" >&2; exit 2 ;;
esac

tools/setup.sh
tools/build.sh "$build"
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
start_display
prepare_wine "$build_root/wine-run"

program="$build_root/$build/Snoopsweep.exe"
wine "$program" &
wine_pid=$!
stop() {
    kill "$wine_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    stop_display
}
trap stop EXIT
trap 'exit 130' INT TERM

if [ -n "$XVFB_PID" ]; then
    shot="$build_root/screenshots/run-$build.png"
    mkdir -p "$(dirname "$shot")"
    for _ in $(seq 1 300); do
        xwininfo -root -tree 2>/dev/null | grep -q '"Snoopsweep"' && break
        kill -0 "$wine_pid" 2>/dev/null || break
        sleep 0.2
    done
    # Give the dialog a moment to paint, then take its part of the virtual screen.
    sleep 1
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
