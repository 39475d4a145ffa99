#!/usr/bin/env bash
# Packs the Windows folder that tools/windows.sh lays out into what a user
# downloads: a setup program made with NSIS, and a portable zip of the same
# folder for PCs where the user may not install programs.
#
#   tools/windows-installer.sh [--out DIR] [FOLDER]
#
# FOLDER defaults to build/win/Parvelo, DIR to the folder's parent. Writes
#   DIR/parvelo-<version>-setup-x64.exe
#   DIR/parvelo-<version>-portable-x64.zip   (holding Parvelo/...)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

out=
if [ "${1:-}" = --out ]; then
  out=$2
  shift 2
fi
folder=${1:-$top/build/win/Parvelo}
say() { printf '%s\n' "windows-installer.sh: $*" >&2; }

[ -f "$folder/parvelo.exe" ] || { say "$folder/parvelo.exe not found: run tools/windows.sh first"; exit 1; }
# Help > Manual opens the manual beside the program; a setup without it
# would install a menu entry that fails.
[ -f "$folder/Parvelo Manual.pdf" ] ||
  { say "$folder has no \"Parvelo Manual.pdf\": build it with tools/manual.sh, then run tools/windows.sh"; exit 1; }
folder=$(cd "$folder" && pwd)
out=$(mkdir -p "${out:-$folder/..}" && cd "${out:-$folder/..}" && pwd)
"$top/tools/install-deps.sh" --tests

version=$(sed -n 's/^project(Parvelo VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { say "no version in CMakeLists.txt's project()"; exit 1; }
if ! x86_64-w64-mingw32-objdump -p "$folder/parvelo.exe" | grep 'Resource Directory \[.rsrc\]' >/dev/null; then
  say "warning: parvelo.exe has no icon or version information (packaging/win/parvelo.rc is not linked)"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$top/packaging/win/make-ico.sh" "$top/packaging/parvelo.svg" "$work/parvelo.ico"

# One line a file, so that the uninstaller deletes what was installed and
# nothing else. The files are read through a link of a plain name, since
# makensis takes a File path as it is written; a name NSIS would read as a
# variable or a wildcard is refused (Windows names never hold " * ?).
ln -s "$folder" "$work/Parvelo"
: >"$work/files.nsh"
: >"$work/unfiles.nsh"
size=0
while IFS= read -r -d '' file; do
  rel=${file#"$work/Parvelo/"}
  case $rel in *[\"*?\$\\]*) say "cannot install a file named $rel"; exit 1 ;; esac
  win=${rel//\//\\}
  dir=${win%\\*}
  [ "$dir" = "$win" ] && dir= || dir=\\$dir
  printf 'SetOutPath "$INSTDIR%s"\nFile "%s"\n' "$dir" "$file" >>"$work/files.nsh"
  printf 'Delete "$INSTDIR\\%s"\n' "$win" >>"$work/unfiles.nsh"
  size=$((size + $(stat -c %s "$file")))
done < <(find "$work/Parvelo/" -type f -print0 | sort -z)
# Folders deepest first; RMDir leaves one that still holds something.
while IFS= read -r -d '' dir; do
  rel=${dir#"$work/Parvelo/"}
  printf 'RMDir "$INSTDIR\\%s"\n' "${rel//\//\\}" >>"$work/unfiles.nsh"
done < <(find "$work/Parvelo/" -mindepth 1 -type d -print0 | sort -rz)

setup=$out/parvelo-$version-setup-x64.exe
copyright=$(sed -n 's/^Copyright: //p' "$top/packaging/copyright" | head -1)
makensis -V2 -NOCD -DVERSION="$version" -DCOPYRIGHT="$copyright" -DSIZE_KB=$(((size + 1023) / 1024)) \
  -DICON="$work/parvelo.ico" -DFILES="$work/files.nsh" -DUNFILES="$work/unfiles.nsh" \
  -DOUTFILE="$setup" "$top/packaging/win/parvelo.nsi" >"$work/makensis.log" 2>&1 ||
  { cat "$work/makensis.log" >&2; exit 1; }
say "$setup: $(du -k "$setup" | cut -f1) KiB, $(grep -c '^File ' "$work/files.nsh") files"

# The zip holds the folder as Parvelo\, whatever this copy's name is.
zip=$out/parvelo-$version-portable-x64.zip
rm -f "$zip"
(cd "$work" && zip -q -r -X -9 "$zip" Parvelo)
say "$zip: $(du -k "$zip" | cut -f1) KiB"
