#!/bin/sh
# Rebuilds the program's pictures into resources/bitmaps/, and its icon for
# the desktop's icon theme into desktop/icons/.
# Needs: g++, Qt 6 (qt6-base-dev), zlib (zlib1g-dev), fonts-dejavu-core,
# and ImageMagick's convert for the multi-size .ico.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../bitmaps"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++20 -O1 -fPIC -Wall -Wextra "$here/drawart.cpp" -o "$tmp/drawart" \
    $(pkg-config --cflags --libs Qt6Gui zlib)
QT_QPA_PLATFORM=offscreen "$tmp/drawart" "$out" "$here/../../desktop/icons"
# One .ico with the three sizes, for whatever wants a Windows-style icon file.
convert "$out/icon128_16.png" "$out/icon128.png" "$out/icon128_48.png" "$out/icon128.ico"
