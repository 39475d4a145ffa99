#!/bin/sh
# Try Parvelo without an instrument: a virtual balance sends one reading a
# second to a pseudo-terminal, and Parvelo's port 1 points at it. Settings go
# to a throw-away folder; your own Parvelo settings are never touched.
# Readings sent while no run has the port open are lost, as on a real cable.
#
#   tools/demo.sh            (needs an X display: run it from your desktop)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [ -z "${DISPLAY:-}" ]; then
    echo "demo: no DISPLAY; run this from an X11 desktop session" >&2
    exit 1
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build"
cmake --build "$build" -j2 --target parvelo vinstrument

# The target the file dialog will propose: the spreadsheet if there is one.
target=
for t in /usr/bin/localc /usr/bin/mousepad /usr/bin/gedit; do
    if [ -x "$t" ]; then target=$t; break; fi
done

cfg=$(mktemp -d "${TMPDIR:-/tmp}/parvelo-demo.XXXXXX")
inst_pid=
cleanup() {
    [ -n "$inst_pid" ] && kill "$inst_pid" 2>/dev/null && wait "$inst_pid" 2>/dev/null
    rm -rf "$cfg"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if [ "$target" = /usr/bin/localc ]; then
    # The spreadsheet with a profile of its own: no first-start dialogs, and
    # no AutoInput, which would complete the "g" of "+0012.345 g" to a
    # function name (a leading "+" starts a formula) and swallow the Return.
    python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import calc_profile; calc_profile.make_profile(sys.argv[2])' \
        "$root/tests/e2e" "$cfg"
    target=$cfg/calc.sh
    printf '#!/bin/sh\nexec /usr/bin/localc --norestore -env:UserInstallation=file://%s/lo-profile\n' "$cfg" >"$target"
    chmod +x "$target"
fi

if [ -z "$target" ]; then
    # No editor: an xterm that shows what arrives.
    target=$cfg/show-lines.sh
    printf '#!/bin/sh\nexec xterm -T "Parvelo demo target" -e cat\n' >"$target"
    chmod +x "$target"
fi

"$build/vinstrument" --kind balance --rate 1 --drop-unread --hold --path-file "$cfg/pty" \
    >/dev/null 2>"$cfg/vinstrument.log" &
inst_pid=$!
i=0
while [ ! -s "$cfg/pty" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$cfg/pty" ] || { echo "demo: the virtual instrument did not start" >&2; exit 1; }
pty=$(cat "$cfg/pty")

mkdir -p "$cfg/Parvelo"
cat >"$cfg/Parvelo/Parvelo.conf" <<CONF
[Settings]
ExeFileName=$target
InsertDate=0
InsertTime=0

[Properties]
Settings=9600,n,8,1
CommPort=1
Handshaking=0

[Ports]
Com1=$pty
CONF

cat <<MSG
Parvelo demo
  virtual balance on $pty, one reading a second ("+0012.345 g" and so on)
  settings in $cfg (removed when Parvelo closes)

What to do:
  1. In Parvelo choose "Software Execution" (Alt+A).
  2. The file dialog proposes $target: press Open (or Enter).
  3. The program starts and the readings are typed into it, one line per
     reading (in the spreadsheet: one row per line).
  4. "Stop" ends the run; close Parvelo to end the demo.
MSG

XDG_CONFIG_HOME=$cfg "$build/parvelo"
