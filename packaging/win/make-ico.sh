#!/bin/sh
# Renders Parvelo's icon drawing as a Windows .ico holding the sizes Windows
# picks from: 16 to 48 for lists, menus and the taskbar at 100 to 300 % and
# 256 for large tiles (stored as PNG inside, as Windows expects at that size).
#   packaging/win/make-ico.sh SVG OUT.ico
set -eu
svg=$1
ico=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngs=
for size in 16 20 24 32 40 48 64 256; do
    rsvg-convert --width "$size" --height "$size" --output "$work/$size.png" "$svg"
    pngs="$pngs $work/$size.png"
done
# shellcheck disable=SC2086 # one argument a size
convert $pngs "$ico"
