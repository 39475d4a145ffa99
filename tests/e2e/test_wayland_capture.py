#!/usr/bin/env python3
"""End to end on a Wayland desktop (tests/e2e/waylandsession.sh: headless
mutter with XWayland): Software Execution starts the target as an X11
client, and the lines arrive there exactly.

1. xterm (cat > file) as the target, while a native Wayland terminal (foot)
   that opened after it holds the focus: every line reaches the xterm, and
   foot receives nothing. No start-up warning.
2. A GTK program (gtk_target.py) as the target: without GDK_BACKEND=x11 it
   would open a native Wayland window that XTest cannot reach.

3. The toolkits: a target started by Software Execution gets Qt and GTK on
   X11, where started directly on this desktop they go native.
4. LibreOffice already running natively: the start from Parvelo hands over
   to it and ends; the run stops within seconds and says what to do.

usage: test_wayland_capture.py [--native foot|gtk] PARVELO_EXE DIALOG_TARGET_EXE [CASE...]"""

import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (  # noqa: E402
    CatTarget, Parvelo, SerialLine, check, end_group, end_process_group, group_members, run_cases,
    sh, target_script, wait_for)
from test_xterm_capture import LINES  # noqa: E402
from calc_profile import make_profile  # noqa: E402


GTK_TARGET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gtk_target.py")
NATIVE = "foot"  # the native window that takes the focus: foot, or gtk


def start_native(workdir):
    """A native Wayland window; the compositor gives the newest window the
    focus. foot, or where foot cannot run (it crashes on KWin's virtual
    output) the GTK target started natively. Returns (process, its file,
    what it holds before any key)."""
    out = os.path.join(workdir, f"{NATIVE}.out")
    if NATIVE == "gtk":
        proc = subprocess.Popen([GTK_TARGET, out], env=dict(os.environ, GDK_BACKEND="wayland"),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        before = b"GdkWaylandDisplay\n"
    else:
        proc = subprocess.Popen(["foot", "sh", "-c", f"stty raw -echo; exec cat > {out}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        before = b""
    wait_for(lambda: os.path.exists(out), 20, f"{NATIVE} to start")
    time.sleep(1.0)
    return proc, out, before


def case_xterm_behind_foot(exe, workdir):
    serial = SerialLine()
    target = CatTarget(workdir)
    app = Parvelo(exe, {"Settings": {"ExeFileName": target.script, "OpenPathName": workdir}},
                  serial)
    foot = None
    try:
        app.software_execution()
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        foot, foot_out, before = start_native(workdir)
        # The native window has the focus, or "nothing in it" proves nothing:
        # then no X11 window is active.
        active = sh("xdotool", "getactivewindow", check=False).stdout.strip()
        check(active in ("", "0"),
              f"X11 window {active} has the focus, not {NATIVE}")
        sent = "".join(line + "\r\n" for line in LINES)
        serial.send(sent.encode())
        expected = "".join(line + "\n" for line in LINES).encode()
        got = target.wait_data(expected)
        check(got == expected, f"xterm got {got!r}")
        native = open(foot_out, "rb").read()
        check(native == before, f"{NATIVE} got {native!r}")
        return f"{len(LINES)} lines exact in xterm, nothing in {NATIVE}"
    finally:
        if foot:
            foot.kill()
        app.close()
        target.stop()


def case_gtk_target(exe, workdir):
    out = os.path.join(workdir, "gtk.out")
    script = target_script(workdir, "gtk.sh", f"echo $$ > {out}.pid\nexec {GTK_TARGET} {out}\n")
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}}, serial)
    try:
        app.software_execution()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        wait_for(lambda: os.path.exists(out), 20, "the GTK target")
        serial.send("+12.5 µg\r\n-0.25\r\n".encode())
        expected = "+12.5 µg\n-0.25\n".encode()
        wait_for(lambda: open(out, "rb").read().endswith(expected), 30, "lines in the GTK target")
        backend = open(out, "rb").read().split(b"\n")[0]
        check(backend == b"X11Display", f"GTK chose {backend!r}")
        return "GTK came up under XWayland (X11Display) and took the lines exactly"
    finally:
        app.close()
        end_group(out + ".pid")


def probes_script(dialog_target, folder):
    """Shell lines that write which window system Qt and GTK choose."""
    return (f"{dialog_target} x --platform-to {folder}/qt\n"
            f"timeout 2 {GTK_TARGET} {folder}/gtk\n")


def chosen(folder):
    return {name: open(os.path.join(folder, name), "rb").read().split(b"\n")[0].decode()
            for name in ("qt", "gtk")}


def case_toolkits(exe, dialog_target, workdir):
    direct = tempfile.mkdtemp(dir=workdir)
    subprocess.run(["sh", "-c", probes_script(dialog_target, direct)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    native = chosen(direct)
    check(native == {"qt": "wayland", "gtk": "GdkWaylandDisplay"},
          f"started directly: {native}")
    launched = tempfile.mkdtemp(dir=workdir)
    out = os.path.join(workdir, "toolkits.out")
    script = target_script(workdir, "toolkits.sh", f"echo $$ > {out}.pid\n" +
                           probes_script(dialog_target, launched) + f"exec {GTK_TARGET} {out}\n")
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}}, serial)
    try:
        app.software_execution()
        wait_for(lambda: os.path.exists(out), 30, "the probes and the GTK target")
        serial.send(b"ok\r\n")
        wait_for(lambda: open(out, "rb").read().endswith(b"ok\n"), 30, "the line")
        x11 = chosen(launched)
        check(x11 == {"qt": "xcb", "gtk": "X11Display"}, f"launched: {x11}")
        return f"started directly {native}; by Software Execution {x11}"
    finally:
        app.close()
        end_group(out + ".pid")


def cpu_ticks(pgid):
    """CPU time so far of the processes of a group."""
    total = 0
    for pid in group_members(pgid):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError):
            pass
    return total


def wait_quiet(pgid, timeout=60):
    """Until the group has used almost no CPU for a second: started."""
    deadline = time.monotonic() + timeout
    last = cpu_ticks(pgid)
    while time.monotonic() < deadline:
        time.sleep(1)
        now = cpu_ticks(pgid)
        if now - last < 5:
            return
        last = now
    raise AssertionError(f"process group {pgid} kept busy")


def listening(names):
    for name in names:
        if name.startswith("OSL_PIPE"):
            with socket.socket(socket.AF_UNIX) as s:
                if s.connect_ex(os.path.join("/tmp", name)) == 0:
                    return True
    return False


def case_native_handover(exe, workdir):
    profile = make_profile(workdir)
    pipes = set(os.listdir("/tmp"))
    soffice = ["/usr/bin/localc", "--norestore", f"-env:UserInstallation={profile}"]
    native = subprocess.Popen(soffice, env=dict(os.environ, SAL_USE_VCLPLUGIN="gtk3",
                                                GDK_BACKEND="wayland"),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    script = target_script(workdir, "calc.sh", "exec " + " ".join(soffice) + "\n")
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}},
                  SerialLine())
    try:
        # The running instance takes over new starts once its pipe listens.
        wait_for(lambda: listening(set(os.listdir("/tmp")) - pipes), 90, "native LibreOffice")
        # Its window takes the focus when it shows; a click takes it back as
        # a user would.
        wait_quiet(native.pid)
        app.click_log()
        time.sleep(0.5)
        started = time.monotonic()
        app.software_execution()
        wait_for(lambda: app.title() != "Parvelo[Reading]", 20, "the run to stop")
        waited = time.monotonic() - started
        # The hand-over opened a new native window, which has the focus:
        # close LibreOffice, as the message says, before reading the log.
        end_process_group(native.pid)
        app.click_log()
        log = app.save_log(os.path.join(workdir, "log.txt")).decode()
        check("showed no X11 window" in log and "running natively on Wayland" in log,
              f"log: {log[-400:]!r}")
        return f"the run stopped after {waited:.1f} s, saying the program runs natively"
    finally:
        app.close()
        end_process_group(native.pid)


def main():
    global NATIVE
    args = sys.argv[1:]
    if args[:1] == ["--native"]:
        NATIVE, args = args[1], args[2:]
    exe, dialog_target = args[0], args[1]
    check(os.environ.get("WAYLAND_DISPLAY"), "run me through tests/e2e/waylandsession.sh")
    workdir = tempfile.mkdtemp(prefix="parvelo-wayland-")
    print(f"work folder {workdir}")
    cases = [
        ("xterm behind foot", lambda: case_xterm_behind_foot(exe, workdir)),
        ("gtk target", lambda: case_gtk_target(exe, workdir)),
        ("toolkits", lambda: case_toolkits(exe, dialog_target, workdir)),
        ("native handover", lambda: case_native_handover(exe, workdir)),
    ]
    return run_cases(cases, args[2:])


if __name__ == "__main__":
    sys.exit(main())
