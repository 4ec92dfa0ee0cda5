#!/usr/bin/env bash
# Runs the soak under Wine for x64 and x86: the real program with a keylogger loaded, its
# window active and "Analizza" pressed once a second, its handles, GDI and USER objects and
# private bytes compared from start to end. Fails when either bitness grows beyond noise.
#   tools/soak.sh [minutes]     (default 10)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"
minutes=${1:-10}

tools/setup.sh
tools/build.sh win64 win32
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
start_display
prepare_wine "$build_root/wine"
trap 'wineserver -k 2>/dev/null || true; stop_display' EXIT

builds=(win64)
if runs_32bit; then
    builds+=(win32)
else
    echo "== win32: no soak, this machine runs no 32-bit programs"
fi
failed=()
for build in "${builds[@]}"; do
    echo "== $build: soak of $minutes min"
    wine "$build_root/$build/tests/soak.exe" "$minutes" || failed+=("$build")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "soak failed: ${failed[*]}" >&2
    exit 1
fi
echo "soak passed: ${builds[*]}"
