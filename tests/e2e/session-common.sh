# Shared by the session scripts (xsession.sh, waylandsession.sh,
# swaysession.sh), sourced: a work folder, the processes of the session
# stopped newest first on exit and on signals, and the command run so that
# a signal to the script is handled at once.

session_pids=
cmd_pid=

# session_require ARGC NAME TOOL...: the script was given a command to run
# (ARGC: its argument count), and the tools are there.
session_require() {
    argc=$1
    name=$2
    shift 2
    [ "$argc" -ge 1 ] || { echo "usage: $name CMD ARGS..." >&2; exit 2; }
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$name: $tool not found" >&2; exit 127; }
    done
}

# session_own_bus SCRIPT ARGS...: runs the script again inside a D-Bus session
# of its own, for the compositor and the command alike, ended with the script:
# programs that find none would start buses of their own and leave them.
session_own_bus() {
    if [ -z "${PARVELO_SESSION_BUS:-}" ]; then
        PARVELO_SESSION_BUS=1 exec dbus-run-session -- "$@"
    fi
}

# A process and everything it started (dbus-run-session does not stop its
# compositor, nor a compositor always its XWayland), children first.
session_kill_tree() {
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        session_kill_tree "$child"
    done
    kill "$1" 2>/dev/null
}

session_cleanup() {
    [ -n "$cmd_pid" ] && kill "$cmd_pid" 2>/dev/null
    for pid in $session_pids; do session_kill_tree "$pid"; done
    for pid in $session_pids; do wait "$pid" 2>/dev/null; done
    rm -rf "$workdir"
}

session_on_signal() {
    trap - EXIT
    session_cleanup
    exit "$1"
}

# session_begin NAME: makes $workdir and installs the clean-up.
session_begin() {
    workdir=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || exit 1
    trap session_cleanup EXIT
    trap 'session_on_signal 129' HUP
    trap 'session_on_signal 130' INT
    trap 'session_on_signal 143' TERM
}

# session_track PID: a process of the session, stopped before the earlier ones.
session_track() {
    session_pids="$1 $session_pids"
}

# session_wait_x MESSAGE: waits until the X server of DISPLAY lets us in (XWayland
# starts on demand); gives up after 10 s with the message.
session_wait_x() {
    i=0
    until xprop -root >/dev/null 2>&1; do
        i=$((i + 1))
        [ $i -ge 200 ] && { echo "$1" >&2; exit 1; }
        sleep 0.05
    done
}

# session_run CMD ARGS...: runs the command and exits with its status. In the
# background so that a signal to this script is handled at once; the shell
# would give a background command /dev/null as input, so pass ours on.
session_run() {
    exec 4<&0
    "$@" <&4 4<&- &
    cmd_pid=$!
    wait "$cmd_pid"
    status=$?
    cmd_pid=
    exit $status
}
