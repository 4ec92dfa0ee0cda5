#!/usr/bin/env bash
# Refreshes the README's screenshots in docs/screenshots/ from a run of the x64 whole-program
# tests that take them (the main dialog, two test keyloggers found, the About box, who is
# behind a row). The tests themselves only ever write under the build folder; this copies
# their pictures over.
#   tools/screenshots.sh
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

tools/setup.sh
tools/build.sh win64
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
start_display
prepare_wine "$build_root/wine"
trap 'wineserver -k 2>/dev/null || true; stop_display' EXIT

shots="$build_root/screenshots"
rm -rf "$shots" && mkdir -p "$shots"
SNOOPSWEEP_SCREENSHOTS="$(windows_path "$shots")\\" wine "$build_root/win64/tests/e2e_tests.exe" \
    --gtest_brief=1 \
    --gtest_filter='Shell.MainDialog*:Shell.AboutBox*:Detection.AKeyloggerIsListed*:Provenance.*'

# Every picture the README shows must have been taken again: a renamed test would
# otherwise leave an old one in place.
for png in docs/screenshots/*.png; do
    [ -f "$png" ] || continue
    [ -f "$shots/$(basename "${png%.png}").bmp" ] ||
        { echo "no new screenshot for $png" >&2; exit 1; }
done
mkdir -p docs/screenshots
for shot in "$shots"/*.bmp; do
    convert "$shot" -strip "docs/screenshots/$(basename "${shot%.bmp}").png"
done
echo "docs/screenshots refreshed from $shots"
