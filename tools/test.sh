#!/usr/bin/env bash
# Installs, builds and runs every test. Tests that need an X server start
# their own (tests/e2e/xsession.sh), so no display is needed here.
#
# The Windows program is cross-built too (tools/windows.sh), with its setup
# program, and tested under Wine. Qt for Windows comes from its cache
# outside the repository; without one it is built first, which takes 16 to
# 32 minutes once (35 minutes of CPU).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh"
"$top/tools/windows.sh" --installer
# Configured again: the Windows tests are registered once the folder is there.
cmake "$top/build" >/dev/null
cd "$top/build"
status=0
mkdir -p Testing
ctest --output-on-failure -j2 --timeout 600 | tee Testing/ctest-output.txt || status=$?
# A skip is not a pass: the tests CTest skipped, and the checks inside a test
# that skipped themselves (QtTest's SKIP, the end-to-end runner's SKIP).
skipped_tests=$(grep -c '\*\*\*Skipped' Testing/ctest-output.txt || true)
skipped_checks=$(grep -E '^(SKIP   : |SKIP [^:]+: )' Testing/Temporary/LastTest.log || true)
echo "Skipped: $skipped_tests tests, $(printf '%s' "$skipped_checks" | grep -c . || true) checks"
[ -z "$skipped_checks" ] || printf '%s\n' "$skipped_checks" | sed 's/^/  /'
exit "$status"
