#!/bin/sh
# Runs a command inside a headless wlroots desktop of its own: sway with
# XWayland (WLR_BACKENDS=headless, WLR_RENDERER=pixman). sway refuses to run
# as root, so as root it runs as the user nobody, and lets root's X clients
# in with xhost. The command sees WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland
# and DISPLAY, as a program on a sway desktop does.
#
#   tests/e2e/swaysession.sh CMD ARGS...

set -u
. "$(dirname "$0")/session-common.sh"
session_require $# swaysession sway swaymsg Xwayland xhost xprop dbus-run-session
session_own_bus "$0" "$@"
session_begin swaysession
chmod 755 "$workdir"
runtime="$workdir/runtime"
mkdir -m 0700 "$runtime"
# A sway user lets programs bring their windows forward with this line;
# without it sway only marks the target urgent, and readings are held.
printf 'xwayland enable\nfocus_on_window_activation focus\n' >"$workdir/config"
chmod 644 "$workdir/config"
as_user=
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$runtime"
    as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
fi

$as_user env -i PATH=/usr/bin:/bin HOME="$workdir" XDG_RUNTIME_DIR="$runtime" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$workdir/config" >"$workdir/sway.log" 2>&1 &
sway_pid=$!
session_track "$sway_pid"

i=0
ipc=
while [ $i -lt 200 ]; do
    ipc=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1)
    [ -n "$ipc" ] && break
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.05
    i=$((i + 1))
done
if [ -z "$ipc" ]; then
    echo "swaysession: sway did not start" >&2
    cat "$workdir/sway.log" >&2
    exit 1
fi
# sway starts XWayland for its clients and tells them the display; ask one.
cat >"$workdir/hello.sh" <<HELLO
xhost +si:localuser:$(id -un) >/dev/null
echo "\$DISPLAY \$WAYLAND_DISPLAY" >"$runtime/display"
HELLO
chmod 644 "$workdir/hello.sh"
SWAYSOCK=$ipc swaymsg exec "sh $workdir/hello.sh" >"$workdir/swaymsg.log" 2>&1
i=0
while [ $i -lt 200 ] && ! [ -s "$runtime/display" ]; do
    sleep 0.05
    i=$((i + 1))
done
read -r DISPLAY wayland <"$runtime/display" || {
    echo "swaysession: no display" >&2
    cat "$workdir/swaymsg.log" "$workdir/sway.log" >&2
    exit 1
}
# As on a desktop: the socket's name, in the session's runtime folder (GTK
# does not take a path in WAYLAND_DISPLAY).
WAYLAND_DISPLAY=$wayland
XDG_RUNTIME_DIR=$runtime
XDG_SESSION_TYPE=wayland
# swaymsg finds the desktop by this, as in a sway session.
SWAYSOCK=$ipc
export DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_SESSION_TYPE SWAYSOCK
unset XAUTHORITY
session_wait_x "swaysession: XWayland does not let us in"

session_run "$@"
