#!/usr/bin/env bash
# Builds the native unit tests under AddressSanitizer and UndefinedBehaviorSanitizer and runs
# them. Any report stops the test that made it, which then fails.
#   tools/sanitize.sh     (clang++ when installed, else g++; CXX chooses another)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"
dir="$build_root/asan"

if [ -z "${CXX:-}" ]; then
    if command -v clang++ >/dev/null; then
        CXX=clang++ CC=clang
    else
        CXX=g++ CC=gcc
    fi
fi
CC=${CC:-cc}

flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
mkdir -p "$build_root"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" > "$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -j "$jobs" -- --no-print-directory

export ASAN_OPTIONS=${ASAN_OPTIONS:-strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir "$dir" --output-on-failure
