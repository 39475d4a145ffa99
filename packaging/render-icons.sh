#!/bin/sh
# Renders the icon's PNG sizes for the hicolor theme from its SVG.
#   packaging/render-icons.sh SVG OUTDIR SIZE...   -> OUTDIR/NxN/parvelo.png
set -eu
svg=$1
out=$2
shift 2
for size in "$@"; do
    mkdir -p "$out/${size}x$size"
    rsvg-convert --width "$size" --height "$size" --output "$out/${size}x$size/parvelo.png" "$svg"
done
