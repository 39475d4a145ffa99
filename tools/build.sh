#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/.
#   tools/build.sh            everything: the program, its tools, the tests
#   tools/build.sh --program  only the program, with only what it needs
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/ccache-env.sh"
if [ "${1:-}" = "--program" ]; then
  "$top/tools/install-deps.sh"
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$top/build" -j"$(nproc)" --target parvelo
else
  "$top/tools/install-deps.sh" --tests
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
  cmake --build "$top/build" -j"$(nproc)"
fi
