#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native unit tests,
# then the x64 and x86 Windows tests under Wine on a virtual display, then the release
# archives. Writes only under the build folder.
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"
# A failing step is counted and the run goes on.
set +e
start=$(date +%s)

tools/setup.sh || exit 1
tools/build.sh || exit 1
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh

passed=0
failed=0
skipped=0
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

# The x64 run also takes the README's screenshots, into the build folder only
# (tools/screenshots.sh puts them in docs/).
shots="$build_root/screenshots"
rm -rf "$shots" && mkdir -p "$shots"
SNOOPSWEEP_SCREENSHOTS="$(windows_path "$shots")\\" run_ctest "$build_root/win64"
# The x86 build runs everywhere: where the kernel's 32-bit emulation is off, tools/setup.sh
# had 32-bit programs run through qemu-user. Left out only on request (SNOOPSWEEP_SKIP_X86=1).
x86=yes
if [ "${SNOOPSWEEP_SKIP_X86:-}" = 1 ]; then
    x86=no
    count=$(ctest --test-dir "$build_root/win32" -N | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    skipped=$((skipped + ${count:-0} + 1))
    echo "** x86: ${count:-0} Windows tests and the package check built but not run, as asked"
    echo "** (SNOOPSWEEP_SKIP_X86=1)"
elif runs_32bit; then
    if emulated_32bit; then
        echo "== x86: 32-bit programs run through qemu-i386 (binfmt_misc), about four times slower"
    fi
    run_ctest "$build_root/win32"
else
    failed=$((failed + 1))
    echo "** x86: Wine cannot start 32-bit programs here, so the x86 tests cannot run, although"
    echo "** tools/setup.sh found that this machine runs 32-bit programs. To test the x64 side"
    echo "** alone, set SNOOPSWEEP_SKIP_X86=1."
fi
# A one-minute soak of each build: the program's handles, GDI and USER objects and memory
# must not grow while "Analizza" is pressed every second.
run_step "soak" tools/soak.sh 1

# The release archives, each unpacked afresh and checked by that bitness's Package test:
# exactly the program as built, its LEGGIMI.txt and licence, and the program starts.
check_package() {
    local build=$1 arch=$2
    local unpacked="$build_root/package-test/$arch"
    local archives=("$build_root"/dist/Snoopsweep-*-"$arch".zip)
    if [ ${#archives[@]} -ne 1 ] || [ ! -f "${archives[0]}" ]; then
        echo "no single $arch archive in $build_root/dist"
        return 1
    fi
    rm -rf "$unpacked" && mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "${archives[0]}") || return 1
    SNOOPSWEEP_PACKAGE="$(windows_path "$unpacked")\\" wine "$build_root/$build/tests/e2e_tests.exe" \
        --gtest_filter='Package.*' --gtest_brief=1
}
run_step "packaging" tools/package.sh
run_step "package x64" check_package win64 x64
if [ "$x86" = yes ] && runs_32bit; then
    run_step "package x86" check_package win32 x86
fi

echo "Tests took $(($(date +%s) - start)) s."
echo "Tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
