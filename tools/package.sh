#!/usr/bin/env bash
# Builds the x64 and x86 programs and packs each for Windows users to download:
# <build>/dist/Snoopsweep-<version>-x64.zip and -x86.zip. Each holds one folder of the same
# name with Snoopsweep.exe (the x64 one with its 32-bit helper, SnoopsweepHelper32.exe), LEGGIMI.txt (what the program does, how to use and remove it;
# from docs/LEGGIMI.txt) and LICENSE.txt, both as Windows text. The version is the
# program's own: FILEVERSION in res/Snoopsweep.rc.
#   tools/package.sh
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

tools/setup.sh
tools/build.sh win64 win32

version=$(sed -nE 's/^[[:space:]]*FILEVERSION[[:space:]]+([0-9]+)[[:space:]]*,[[:space:]]*([0-9]+)[[:space:]]*,[[:space:]]*([0-9]+)[[:space:]]*,[[:space:]]*([0-9]+).*/\1.\2.\3.\4/p' \
    res/Snoopsweep.rc)
if [ -z "$version" ] || [ "$(wc -l <<<"$version")" -ne 1 ]; then
    echo "no single FILEVERSION in res/Snoopsweep.rc" >&2
    exit 1
fi

# CRLF line ends, for Notepad.
windows_text() {
    sed 's/\r*$/\r/' "$1"
}

dist="$build_root/dist"
rm -rf "$dist"
mkdir -p "$dist/stage"
for pair in win64:x64 win32:x86; do
    build=${pair%%:*}
    name="Snoopsweep-$version-${pair##*:}"
    folder="$dist/stage/$name"
    mkdir -p "$folder"
    cp "$build_root/$build/Snoopsweep.exe" "$folder/"
    if [ "$build" = win64 ]; then
        cp "$build_root/$build/SnoopsweepHelper32.exe" "$folder/"
    fi
    # The text has accents: UTF-8 with its byte order mark, which Notepad reads as such.
    { printf '\xef\xbb\xbf'; windows_text docs/LEGGIMI.txt; } > "$folder/LEGGIMI.txt"
    windows_text LICENSE > "$folder/LICENSE.txt"
    (cd "$dist/stage" && cmake -E tar cf "$dist/$name.zip" --format=zip "$name")
    echo "$dist/$name.zip: $(stat -c %s "$dist/$name.zip") bytes"
done
rm -rf "$dist/stage"
