#!/usr/bin/env bash
# Installs what building and running need, builds and starts Parvelo on the
# current display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh" --program
exec "$top/build/parvelo" "$@"
