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
# Image paths are relative to the source's folder: the shots are beside a
# copy. rst2pdf's keepWithNext does not hold a heading, the paragraph that
# introduces a screenshot, or a term of a list to what follows; the copy
# asks for a new page before each where too little of the page is left.
python3 - "$top/doc/manual.rst" "$out/manual.rst" <<'EOF'
import re, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
breaks = set()
for i, line in enumerate(lines[:-2]):
    below, after = lines[i + 1], lines[i + 2]
    if line.strip() and re.fullmatch(r"([=~-])\1{2,}", below) and i and lines[i - 1].strip() == "":
        breaks.add(i)
    if line.endswith(":") and not below.strip() and after.startswith(".. image::"):
        start = i
        while start and lines[start - 1].strip():
            start -= 1
        breaks.add(start)
# A term of a definition list ("Speed", then its text indented below).
terms = {i for i, line in enumerate(lines[:-1])
         if re.match(r"[A-Z]", line) and lines[i + 1].startswith("   ") and lines[i + 1].strip()}
out = []
for i, line in enumerate(lines):
    if i in breaks:
        out += [".. raw:: pdf", "", "   FrameBreak 200", ""]
    elif i in terms:
        out += ["", ".. raw:: pdf", "", "   FrameBreak 60", ""]
    out.append(line)
open(sys.argv[2], "w", encoding="utf-8").write("\n".join(out))
EOF
# rst2pdf exits 0 on a missing image or a broken link: its complaints fail.
rst2pdf --stylesheets="$top/doc/manual.yaml" --output="$out/Parvelo Manual.pdf" \
    "$out/manual.rst" 2>"$out/rst2pdf.log" || { cat "$out/rst2pdf.log" >&2; exit 1; }
if grep -E "ERROR|WARNING|SEVERE" "$out/rst2pdf.log" >&2; then
    echo "manual: rst2pdf complained" >&2
    exit 1
fi
mv "$out/Parvelo Manual.pdf" "$build/Parvelo Manual.pdf"
echo "manual: $build/Parvelo Manual.pdf"
