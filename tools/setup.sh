#!/usr/bin/env bash
# Installs what building and testing Snoopsweep needs on Debian, if it is missing.
# Runs as root (or through sudo); does nothing when everything is there.
# shellcheck source=tools/common.sh
source "$(dirname "$0")/common.sh"

packages=(cmake make g++ libgtest-dev googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
          wine wine64 wine32:i386 fonts-wine xvfb x11-utils imagemagick
          clang libclang-rt-14-dev)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
