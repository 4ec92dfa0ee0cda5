#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native unit tests,
# then the x64 and x86 Windows tests under Wine on a virtual display.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Where builds go; another folder keeps a second checkout or work tree apart.
build_root=${SNOOPSWEEP_BUILD_DIR:-$root/build}
cd "$root"
start=$(date +%s)

tools/setup.sh || exit 1
tools/build.sh || exit 1
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh

passed=0
failed=0
run_ctest() {
    local dir=$1; shift
    local log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log"
    local summary
    summary=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    rm -f "$log"
    if [ -z "$summary" ]; then
        failed=$((failed + 1))
        return
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

run_ctest "$build_root/native"

start_display
prepare_wine "$build_root/wine"
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_display
}
trap cleanup EXIT

# The x64 run also takes the screenshots shown in the README.
shots="$build_root/screenshots"
rm -rf "$shots" && mkdir -p "$shots"
SNOOPSWEEP_SCREENSHOTS="$(windows_path "$shots")\\" run_ctest "$build_root/win64"
run_ctest "$build_root/win32"
for shot in "$shots"/*.bmp; do
    [ -f "$shot" ] || continue
    mkdir -p docs/screenshots
    convert "$shot" -strip "docs/screenshots/$(basename "${shot%.bmp}").png"
done

echo "Tests took $(($(date +%s) - start)) s."
echo "Tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
