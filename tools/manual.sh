#!/bin/sh
# Builds "Parvelo Manual.pdf" beside the program (build/), where Help >
# Manual finds it: screenshots of the program as it is, taken under a
# throw-away X server (doc/screenshots.py), then doc/manual.rst with rst2pdf.
#
#   tools/manual.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=$build/manual

[ -f "$build/CMakeCache.txt" ] || "$top/tools/build.sh"
cmake --build "$build" -j2 --target parvelo
rm -rf "$out"
mkdir -p "$out/shots"
"$top/tests/e2e/xsession.sh" python3 "$top/doc/screenshots.py" "$build/parvelo" "$out/shots"
# Image paths are relative to the source's folder: the shots are beside a copy.
cp "$top/doc/manual.rst" "$out/manual.rst"
# rst2pdf exits 0 on a missing image or a broken link: its complaints fail.
rst2pdf --stylesheets="$top/doc/manual.yaml" --output="$out/Parvelo Manual.pdf" \
    "$out/manual.rst" 2>"$out/rst2pdf.log" || { cat "$out/rst2pdf.log" >&2; exit 1; }
if grep -E "ERROR|WARNING|SEVERE" "$out/rst2pdf.log" >&2; then
    echo "manual: rst2pdf complained" >&2
    exit 1
fi
mv "$out/Parvelo Manual.pdf" "$build/Parvelo Manual.pdf"
echo "manual: $build/Parvelo Manual.pdf"
