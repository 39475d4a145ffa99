#!/usr/bin/env bash
# Builds Parvelo for 64-bit Windows on Debian, with mingw-w64 and a Qt for
# Windows cross-built from Debian's own qt6-base source.
#
#   tools/windows.sh        Qt (from its cache, or built), Parvelo, and the
#                           folder build/win/Parvelo/
#   tools/windows.sh qt     only Qt; prints its prefix
#   tools/windows.sh --installer
#                           the folder, then the setup program and a portable
#                           zip of it (tools/windows-installer.sh; the folder
#                           needs its manual)
#
# Qt is cached outside the repository, in
#   ${XDG_CACHE_HOME:-~/.cache}/parvelo/qt6-win-<source version>-<key>/
# where <key> is a hash of the source version, the compiler's package version
# and the configure options, so a change to any of them builds a new one.
# A missing Qt takes 16 to 32 minutes of two cores (35 minutes of CPU); it
# says so and shows its progress. The cross-built Parvelo is in build/win-build/.
#
# The folder a user copies to a Windows PC (and the installer packs):
#   build/win/Parvelo/
#     parvelo.exe
#     Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll   Qt, stripped
#     libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll   MinGW runtime
#     platforms/qwindows.dll                   the platform plugin
#     styles/qwindowsvistastyle.dll            the native style
#     manual.pdf                               when tools/manual.sh can build it
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/ccache-env.sh"
triple=x86_64-w64-mingw32
cxx=$triple-g++-posix
toolchain=$top/cmake/mingw-w64-x86_64.cmake
cache=${XDG_CACHE_HOME:-$HOME/.cache}/parvelo

"$top/tools/install-deps.sh" --tests

say() { printf '%s\n' "windows.sh: $*" >&2; }
minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

# Debian's host Qt tools (moc, uic, rcc) build the Windows Qt and Parvelo, so
# the Windows Qt is taken from the same source version as the host's.
qt_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
compiler_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)

# Core, Gui, Widgets and the qwindows plugin; nothing else is needed. Debian's
# repack drops the wintab sources (tabletevent), with direct2d off Qt 6.4's
# qwindows fails to link unless directwrite3 is off too, and with opengl off
# it fails to compile unless dynamicgl is off too.
qt_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_network=OFF
  -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF
  -DFEATURE_testlib=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF
  -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF -DFEATURE_jpeg=OFF
  -DFEATURE_zstd=OFF -DFEATURE_icu=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_dynamicgl=OFF
)
key=$(printf '%s\n' "$qt_version" "$compiler_version" "${qt_options[@]}" \
  "$(cat "$toolchain")" | sha256sum | cut -c1-12)
qt=$cache/qt6-win-$qt_version-$key

# deb-src entries for the machine's own Debian mirrors, in a private apt
# configuration: the machine's sources, lists and cache are left untouched
# (an update with a narrowed source list but the default list folder would
# delete the machine's package lists).
fetch_qt_source() {
  local work=$1 apt=$1/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  : >"$apt/sources.list"
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' "$f" >>"$apt/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # One deb822 stanza per paragraph: keep the Debian ones, as deb-src.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /URIs:[^\n]*debian/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" \
      >"$apt/debian-src.sources"
  done
  local opts=(-o Dir::Etc::SourceList="$apt/sources.list"
    -o Dir::Etc::SourceParts="$apt" -o Dir::State::Lists="$apt/lists"
    -o Dir::Cache="$apt/cache" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; return 1; }
  (cd "$work" && apt-get "${opts[@]}" source "qt6-base=$qt_version" >>"$work/apt.log" 2>&1) ||
    { cat "$work/apt.log" >&2; return 1; }
}

build_qt() {
  local work=$cache/work-$key start=$SECONDS
  rm -rf "$work" && mkdir -p "$work"
  say "no Qt for Windows in $qt: building it (16 to 32 minutes on two cores)"
  say "fetching the qt6-base $qt_version source"
  fetch_qt_source "$work"
  local src
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
  [ -n "$src" ] || { say "the qt6-base source was not unpacked (see $work/apt.log)"; exit 1; }
  say "configuring"
  cmake -G Ninja -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(uname -m)-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$qt.part" "${qt_options[@]}" >"$work/configure.log" 2>&1 ||
    { tail -40 "$work/configure.log" >&2; exit 1; }
  say "building (log: $work/build.log)"
  # One progress line: rewritten in place on a terminal, every 50 steps otherwise.
  local tty=0
  [ -t 2 ] && tty=1
  set +e
  NINJA_STATUS='[%f/%t] ' nice ninja -C "$work/build" -j"$(nproc)" 2>&1 | tee "$work/build.log" |
    awk -v tty=$tty -v t0="$(date +%s)" '
      /^\[[0-9]+\/[0-9]+\] / {
        split(substr($1, 2), n, "/"); n[2] += 0
        line = sprintf("windows.sh: Qt %d/%d steps, %d s", n[1], n[2], systime() - t0)
        if (tty) printf "\r%s", line > "/dev/stderr"
        else if (n[1] % 50 == 0 || n[1] == n[2]) print line > "/dev/stderr"
      }
      END { if (tty) print "" > "/dev/stderr" }'
  local rc=${PIPESTATUS[0]}
  set -e
  [ "$rc" -eq 0 ] || { grep -B2 -A20 'FAILED' "$work/build.log" | head -60 >&2; exit 1; }
  rm -rf "$qt.part"
  cmake --install "$work/build" >"$work/install.log" 2>&1
  mv "$qt.part" "$qt"
  rm -rf "$work"
  say "Qt for Windows built in $(minutes $((SECONDS - start))): $qt"
}

[ -d "$qt" ] || build_qt
if [ "${1:-}" = qt ]; then
  echo "$qt"
  exit 0
fi

# Parvelo itself, with Qt's toolchain file (it finds the host tools) chained
# to ours (the compilers).
start=$SECONDS
build=$top/build/win-build
mkdir -p "$build"
cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DPARVELO_PLATFORM=win \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(uname -m)-linux-gnu/cmake \
  >"$top/build/win-configure.log" 2>&1 ||
  { tail -30 "$top/build/win-configure.log" >&2; exit 1; }
nice cmake --build "$build" -j"$(nproc)"
say "Parvelo for Windows built in $(minutes $((SECONDS - start)))"

# The folder: what parvelo.exe loads, found by what it imports (objdump),
# from Qt's prefix or the MinGW runtime; plugins by Qt's rules (beside the
# program, in platforms/ and styles/).
out=$top/build/win/Parvelo
rm -rf "$out"
mkdir -p "$out/platforms" "$out/styles"
cp "$build/parvelo.exe" "$out/"
cp "$qt/plugins/platforms/qwindows.dll" "$out/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$out/styles/"
runtime_dirs=("$qt/bin" "$(dirname "$($cxx -print-file-name=libstdc++-6.dll)")"
  "$(dirname "$($cxx -print-file-name=libwinpthread-1.dll)")")
copy_imports() {
  local f dll dir
  for f in "$@"; do
    for dll in $($triple-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
      [ -e "$out/$dll" ] && continue
      for dir in "${runtime_dirs[@]}"; do
        if [ -f "$dir/$dll" ]; then
          cp "$dir/$dll" "$out/"
          copy_imports "$out/$dll"
          break
        fi
      done # not found: a DLL of Windows itself
    done
  done
}
copy_imports "$out/parvelo.exe" "$out/platforms/qwindows.dll" "$out/styles/qwindowsvistastyle.dll"
$triple-strip --strip-unneeded "$out"/*.exe "$out"/*.dll "$out"/*/*.dll

manual="$top/build/Parvelo Manual.pdf"
if [ ! -f "$manual" ] && [ -z "${PARVELO_NO_MANUAL:-}" ]; then
  "$top/tools/manual.sh" >"$top/build/win-manual.log" 2>&1 ||
    say "the manual did not build (see build/win-manual.log); the folder has none"
fi
[ -f "$manual" ] && cp "$manual" "$out/"
say "$out: $(du -sh "$out" | cut -f1), $(find "$out" -type f | wc -l) files"
if [ "${1:-}" = --installer ]; then
  "$top/tools/windows-installer.sh" "$out"
fi
