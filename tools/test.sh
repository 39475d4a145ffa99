#!/usr/bin/env bash
# Installs, builds and runs every test. Tests that need an X server start
# their own (tests/e2e/xsession.sh), so no display is needed here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh"
cd "$top/build"
ctest --output-on-failure -j2 --timeout 600
