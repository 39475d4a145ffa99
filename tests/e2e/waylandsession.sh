#!/bin/sh
# Runs a command inside a headless Wayland desktop of its own: GNOME's
# compositor (mutter, in a private D-Bus session) with XWayland. The command
# sees WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland, and DISPLAY and XAUTHORITY
# of XWayland, as a program on a GNOME desktop does. Cleans up on exit and on
# signals and exits with the command's status.
#
#   tests/e2e/waylandsession.sh CMD ARGS...

set -u
. "$(dirname "$0")/session-common.sh"
session_require $# waylandsession mutter dbus-run-session Xwayland
session_own_bus "$0" "$@"
session_begin waylandsession
XDG_RUNTIME_DIR="$workdir/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
WAYLAND_DISPLAY="parvelo-wayland"
export WAYLAND_DISPLAY
unset DISPLAY XAUTHORITY

# Without --no-x11, mutter starts XWayland and names its display.
mutter --headless --wayland \
    --virtual-monitor 1280x1024 --wayland-display="$WAYLAND_DISPLAY" \
    >"$workdir/mutter.log" 2>&1 &
mutter_pid=$!
session_track "$mutter_pid"

i=0
display=
while [ $i -lt 400 ]; do
    display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$workdir/mutter.log" | head -n 1)
    auth=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
    [ -n "$display" ] && [ -n "$auth" ] && [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && break
    kill -0 "$mutter_pid" 2>/dev/null || break
    sleep 0.05
    i=$((i + 1))
done
if [ -z "$display" ] || [ -z "$auth" ]; then
    echo "waylandsession: mutter did not start XWayland" >&2
    cat "$workdir/mutter.log" >&2
    exit 1
fi
DISPLAY=$display
XAUTHORITY=$auth
XDG_SESSION_TYPE=wayland
export DISPLAY XAUTHORITY XDG_SESSION_TYPE

session_wait_x "waylandsession: XWayland does not answer"

session_run "$@"
