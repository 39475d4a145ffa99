#!/usr/bin/env bash
# Builds the Debian package build/deb/parvelo_<version>_<arch>.deb from the
# build tree: the program, its icons and the manual (tools/manual.sh), then
# CPack. With --check, also checks it as Debian's tools do: lintian (no
# errors), desktop-file-validate and appstreamcli validate.
#
#   tools/package.sh [--check]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
check=0
[ "${1:-}" = "--check" ] && check=1

[ -f "$build/CMakeCache.txt" ] || "$top/tools/build.sh"
cmake --build "$build" -j2 --target parvelo package_files
"$top/tools/manual.sh"
rm -rf "$build/deb"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >"$build/cpack.log") || {
    cat "$build/cpack.log" >&2
    exit 1
}
deb=$(ls "$build"/deb/parvelo_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb --field "$deb" Depends Recommends Suggests

[ $check = 1 ] || exit 0
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
for f in "$unpacked/usr/bin/parvelo" "$unpacked/usr/share/doc/parvelo/Parvelo Manual.pdf"; do
    [ -f "$f" ] || { echo "package: ${f#"$unpacked"} is missing" >&2; exit 1; }
done
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
# Errors fail; warnings and notes are shown (the README says which remain, and why).
lintian --fail-on error --display-info "$deb"
echo "package: lintian, desktop-file-validate and appstreamcli found no errors"
