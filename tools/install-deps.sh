#!/usr/bin/env bash
# Installs the Debian packages that are missing: those of tools/packages.txt
# (building and running Parvelo), and with --tests those of
# tools/packages-test.txt as well (tests, benchmarks, package, Windows build).
# Runs apt-get update once, only when something has to be installed; waits
# for another apt or dpkg that holds the lock (machines are shared).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$here/packages.txt")
[ "${1:-}" = "--tests" ] && lists+=("$here/packages-test.txt")
mapfile -t wanted < <(cat "${lists[@]}" | grep -vE '^\s*(#|$)')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
