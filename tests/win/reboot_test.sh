#!/usr/bin/env bash
# What a restart does, in a Wine prefix of its own: a GoogleTest program's suite BeforeRestart
# schedules renames and writes WinInit.Ini, `wineboot -r` restarts the prefix, and its suite
# AfterRestart checks the files. Both find the folder for their files, made empty here, in
# SNOOPSWEEP_RESTART_FILES (a Windows path with its trailing backslash).
#   reboot_test.sh TEST-PROGRAM PREFIX FILES-FOLDER
# The prefix is made once (wineboot -i) and reused while valid; it is never the shared test
# prefix, whose programs and pending renames a restart would disturb. Every program and both
# bitnesses use it one at a time (a lock beside it). Runs on the display it is given.
set -euo pipefail
program=$1
prefix=$2
files=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/wine-env.sh
source "$here/../../tools/wine-env.sh"

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

prepare_wine "$prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT

rm -rf "$files"
mkdir -p "$files"
SNOOPSWEEP_RESTART_FILES="$(windows_path "$files")\\"
export SNOOPSWEEP_RESTART_FILES

# The restart and the checks after it run even when the first half failed: what the restart
# made of its lines tells more.
status=0
wine "$program" --gtest_filter='BeforeRestart.*' --gtest_brief=1 || status=1
echo "Restarting the prefix"
wineboot -r
wine "$program" --gtest_filter='AfterRestart.*' --gtest_brief=1 || status=1
[ "$status" -ne 0 ] || rm -rf "$files"
exit "$status"
