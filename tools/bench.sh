#!/usr/bin/env bash
# Runs the benchmarks under Wine for x64 and x86 and prints their figures. Not part of the
# tests: figures on a shared machine vary from run to run.
#   tools/bench.sh [seconds [watch]]   (how long the CPU share is measured, default 60; how
#                                      long the watch for false findings lasts, default 600)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
watch=${2:-600}

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
    echo "== win32: not run, this machine runs no 32-bit programs"
fi
for build in "${builds[@]}"; do
    echo "== $build: module walks"
    wine "$build_root/$build/benchmarks/module_walk_bench.exe"
    echo "== $build: one scan pass against a bare tool-help walk"
    wine "$build_root/$build/tests/scan_bench.exe"
    echo "== $build: the list filled with remembered entries"
    wine "$build_root/$build/tests/fill_bench.exe"
    echo "== $build: the WinInit.Ini edit of a 10 MB file"
    wine "$build_root/$build/benchmarks/wininit_bench.exe"
    echo "== $build: detection latency and CPU share"
    wine "$build_root/$build/tests/detect_bench.exe" 10 "$seconds"
    echo "== $build: keyloggers without a DLL: time to each finding, CPU, false findings"
    wine "$build_root/$build/tests/probe_bench.exe" 10 "$seconds" "${watch:-600}"
    echo "== $build: who is behind a row, with 200 processes running"
    wine "$build_root/$build/tests/provenance_bench.exe" 200 10
done
