#!/usr/bin/env bash
# Installs, builds and starts Parvelo on the current display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh"
exec "$top/build/parvelo" "$@"
