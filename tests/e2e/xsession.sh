#!/bin/sh
# Runs a command inside a fresh X session of its own: Xvfb on a free display
# and, unless --no-wm is given, openbox. Cleans up on exit and on signals and
# exits with the command's status. Safe to run in parallel: Xvfb picks the
# display itself (-displayfd), nothing else is shared.
#
#   tests/e2e/xsession.sh [--no-wm] CMD ARGS...

set -u

usage() { echo "usage: $0 [--no-wm] CMD ARGS..." >&2; exit 2; }

# A D-Bus session of its own, as every desktop session has: programs that
# find none (LibreOffice's gtk3 plugin, GTK's accessibility) behave otherwise.
. "$(dirname "$0")/session-common.sh"
session_own_bus "$0" "$@"

with_wm=1
if [ "${1:-}" = "--no-wm" ]; then
    with_wm=0
    shift
fi
[ $# -ge 1 ] || usage

for tool in Xvfb xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "xsession: $tool not found" >&2; exit 127; }
done
if [ $with_wm = 1 ] && ! command -v openbox >/dev/null 2>&1; then
    echo "xsession: openbox not found" >&2
    exit 127
fi

session_begin xsession

# Xvfb writes the display number it chose to the fd once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$workdir/display" >"$workdir/xvfb.log" 2>&1 &
xvfb_pid=$!
session_track "$xvfb_pid"

display=
i=0
while [ $i -lt 200 ]; do
    display=$(head -n 1 "$workdir/display" 2>/dev/null)
    [ -n "$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
    i=$((i + 1))
done
if [ -z "$display" ]; then
    echo "xsession: Xvfb did not start" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$display"
export DISPLAY
unset WAYLAND_DISPLAY
XDG_SESSION_TYPE=x11
export XDG_SESSION_TYPE

if [ $with_wm = 1 ]; then
    # A config dir of our own so that a user's openbox setup has no effect.
    XDG_CONFIG_HOME="$workdir/config" openbox >"$workdir/openbox.log" 2>&1 &
    wm_pid=$!
    session_track "$wm_pid"
    i=0
    while [ $i -lt 200 ]; do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            break
        fi
        if ! kill -0 "$wm_pid" 2>/dev/null; then
            i=200
            break
        fi
        sleep 0.05
        i=$((i + 1))
    done
    if [ $i -ge 200 ]; then
        echo "xsession: openbox did not take the screen" >&2
        cat "$workdir/openbox.log" >&2
        exit 1
    fi
fi

session_run "$@"
