#!/usr/bin/env bash
# Installs, builds and runs every test. Tests that need an X server start
# their own (tests/e2e/xsession.sh), so no display is needed here. The
# Windows program is cross-built first (tools/windows.sh: Qt for Windows
# from its cache, or built once), for its test under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh"
# The folder needs no manual for the test; tools/windows.sh alone adds it.
PARVELO_NO_MANUAL=1 "$top/tools/windows.sh"
cd "$top/build"
ctest --output-on-failure -j2 --timeout 600
