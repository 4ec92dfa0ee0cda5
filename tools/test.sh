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

# A step that is one test of its own: passed when the command succeeds.
run_step() {
    local name=$1; shift
    echo "== $name"
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "** $name failed"
        failed=$((failed + 1))
    fi
}

run_ctest "$build_root/native"
# The portable code again under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz
# target for a few seconds on its seed corpus.
run_step "sanitizers" tools/sanitize.sh
run_step "fuzzing" tools/fuzz.sh --short

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
# A one-minute soak of each build: the program's handles, GDI and USER objects and memory
# must not grow while "Analizza" is pressed every second.
run_step "soak" tools/soak.sh 1

for shot in "$shots"/*.bmp; do
    [ -f "$shot" ] || continue
    mkdir -p docs/screenshots
    convert "$shot" -strip "docs/screenshots/$(basename "${shot%.bmp}").png"
done

echo "Tests took $(($(date +%s) - start)) s."
echo "Tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
