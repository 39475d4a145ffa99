#!/bin/sh
# Runs the Windows core's test program under Wine, inside the X session of
# tests/e2e/xsession.sh, in a Wine prefix of its own that is made (wineboot)
# and removed here; the prefix's wineserver is stopped on every exit.
#
#   tests/e2e/xsession.sh tests/win/run-wine.sh BUILD_DIR
# BUILD_DIR holds wincore_test.exe, wintarget.exe, app/ and winquit.exe.

set -u
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
bin=$(cd "$1" && pwd) || exit 2

# Debian's wine64 package puts its programs here, not on the PATH.
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
for tool in "$wine" "$wineserver"; do
    [ -x "$tool" ] || { echo "run-wine: $tool not found (install wine64)" >&2; exit 127; }
done

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/parvelo-wine.XXXXXX") || exit 1
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=-all
# No offer to install Mono or Gecko: there is nothing to fetch them from, and
# the offer would wait for an answer.
export WINEDLLOVERRIDES="mscoree=;mshtml="

cleanup() {
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

now() { date +%s.%N; }
seconds() { echo "$1 $2" | awk '{printf "%.1f", $2 - $1}'; }

# In the background, so that a signal is handled at once (the clean-up's
# wineserver -k then ends every Wine process of the prefix).
run() {
    "$@" &
    wait $!
}

t0=$(now)
run "$wine" wineboot --init >/dev/null 2>&1
run "$wineserver" -w
t1=$(now)
echo "wine prefix made in $(seconds "$t0" "$t1") s"

run "$wine" "$bin/wincore_test.exe" 'Z:'"$(echo "$bin" | tr / '\\')"
status=$?
t2=$(now)
echo "test program ran in $(seconds "$t1" "$t2") s"
exit $status
