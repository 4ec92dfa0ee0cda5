#!/usr/bin/env bash
# Builds the fuzz targets of the portable code (clang, libFuzzer, ASan, UBSan) and runs each on
# a copy of its seed corpus in fuzz/corpus/. Exits non-zero when a target finds a fault; the
# input that shows it is kept in <build>/fuzz/artifacts/.
#   tools/fuzz.sh [--short [SECONDS] | --runs N] [TARGET...]
#     --short      each target for a few seconds (default 5), as the tests do
#     --runs N     each target for N executions (default 1000000)
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"
dir="$build_root/fuzz"

limit=(-runs=1000000)
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
    --short)
        seconds=5
        if [[ "${2:-}" =~ ^[0-9]+$ ]]; then
            seconds=$2
            shift
        fi
        limit=(-max_total_time="$seconds")
        ;;
    --runs)
        [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "--runs needs a number" >&2; exit 2; }
        limit=(-runs="$2")
        shift
        ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) targets+=("$1") ;;
    esac
    shift
done
[ ${#targets[@]} -gt 0 ] || targets=(list_text_fuzz wininit_edit_fuzz disabled_name_fuzz version_block_fuzz)

mkdir -p "$build_root"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root/fuzz" -B "$dir" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" \
        > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -j "$jobs" -- --no-print-directory >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dir/artifacts" "$dir/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=0
for target in "${targets[@]}"; do
    [ -x "$dir/$target" ] || { echo "no fuzz target $target" >&2; exit 2; }
    # libFuzzer adds what it finds to its first corpus folder: a copy, never the seeds.
    corpus="$work/$target"
    mkdir -p "$corpus"
    cp -r "$root/fuzz/corpus/$target/." "$corpus/"
    options=()
    [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
    log="$dir/logs/$target.log"
    start=$EPOCHREALTIME
    status=0
    "$dir/$target" "${limit[@]}" "${options[@]}" -print_final_stats=1 -max_len=4096 \
        -artifact_prefix="$dir/artifacts/$target-" "$corpus" > "$log" 2>&1 || status=$?
    elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    printf '%-20s %12s executions in %6.1f s, corpus %s inputs' \
        "$target" "${runs:-?}" "$elapsed" "$(find "$corpus" -type f | wc -l)"
    if [ "$status" -ne 0 ]; then
        failed=$((failed + 1))
        echo ": FAULT (exit $status)"
        grep -E 'ERROR|runtime error|_fuzz: |Test unit written' "$log" | head -n 20 || true
        echo "(whole log: $log)"
    else
        echo
    fi
done
[ "$failed" -eq 0 ]
