#!/usr/bin/env bash
# Builds Snoopsweep: the native unit tests and tools, and the x64 and x86 Windows programs
# and their tests. Incremental: only what changed is rebuilt.
#   tools/build.sh [native|win64|win32 ...]     (default: all three)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

configure_and_build() {
    local name=$1; shift
    local dir="$build_root/$name"
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" > "$dir.configure.log" 2>&1 ||
            { cat "$dir.configure.log"; exit 1; }
    fi
    cmake --build "$dir" -j "$jobs" -- --no-print-directory
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(native win64 win32)
mkdir -p "$build_root"
for target in "${targets[@]}"; do
    case "$target" in
    native) configure_and_build native ;;
    win64) configure_and_build win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" ;;
    win32) configure_and_build win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" ;;
    *) echo "unknown build: $target" >&2; exit 2 ;;
    esac
done
