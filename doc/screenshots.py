#!/usr/bin/env python3
"""Takes the manual's screenshots: Parvelo's main window, its menus and every
dialog, opened by their access keys as a user would, the window during
a run with a few readings, and the Data dialog's preview of a two-channel
thermometer's lines. Runs inside tests/e2e/xsession.sh (Xvfb and
openbox), with a throw-away settings folder, a pseudo-terminal as the
instrument and an xterm as the target.

usage: screenshots.py PARVELO_EXE OUTDIR"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from parvelo_session import CatTarget, Parvelo, SerialLine, key, sh, wait_for  # noqa: E402


def frame_rect(wid):
    """The window with its decoration, as (x, y, w, h) on the screen."""
    info = sh("xwininfo", "-id", wid).stdout
    v = {}
    for line in info.splitlines():
        line = line.strip()
        for name in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            if line.startswith(name + ":"):
                v[name] = int(line.split(":")[1])
    x, y, w, h = (v["Absolute upper-left X"], v["Absolute upper-left Y"], v["Width"], v["Height"])
    extents = sh("xprop", "-id", wid, "_NET_FRAME_EXTENTS", check=False).stdout
    if "=" in extents:
        left, right, top, bottom = (int(n) for n in extents.split("=")[1].split(","))
        x, y, w, h = x - left, y - top, w + left + right, h + top + bottom
    return x, y, w, h


class Shooter:
    def __init__(self, app, outdir):
        self.app = app
        self.outdir = outdir

    def windows(self):
        return sh("xdotool", "search", "--onlyvisible", "--pid", str(self.app.proc.pid),
                  check=False).stdout.split()

    def shoot(self, name, only=None):
        """The screen cut to the program's visible windows (menus included),
        or to the one window only."""
        time.sleep(0.6)  # let the window paint
        rects = [frame_rect(w) for w in ([only] if only else self.windows())]
        x0 = max(0, min(r[0] for r in rects))
        y0 = max(0, min(r[1] for r in rects))
        x1 = max(r[0] + r[2] for r in rects)
        y1 = max(r[1] + r[3] for r in rects)
        path = os.path.join(self.outdir, name + ".png")
        sh("import", "-window", "root", "-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage",
           path)
        print(f"screenshot {path} {x1 - x0}x{y1 - y0}")

    def dialog(self, keys, name, close_keys=("Escape",), alone=True):
        self.app.focus()
        for k in keys:
            key(k)
            time.sleep(0.3)
        wid = wait_for(self.app._dialog, 10, f"the {name} dialog")
        self.shoot(name, only=wid if alone else None)
        for k in close_keys:
            key(k)
            time.sleep(0.2)
        if self.app._dialog():
            sh("wmctrl", "-i", "-c", hex(int(wid)), check=False)
        wait_for(lambda: self.app._dialog() is None, 10, f"the {name} dialog to close")

    def menu(self, alt_key, name):
        self.app.focus()
        key(alt_key)
        time.sleep(0.5)
        self.shoot(name)
        key("Escape")
        time.sleep(0.3)


def data_preview(s, app, serial, target):
    """A thermometer's lines in a second run, then the Data dialog set up by
    keys: the channel preset, three readings a row, a line tried."""
    app.click_read_start()
    wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "the second run to start")
    lines = [b"CH1 +021.50 C", b"CH2 +022.50 C", b"ERR 2", b"CH1 +021.60 C", b"CH2 +022.60 C"]
    for line in lines:
        serial.send(line + b"\r\n")
    target.wait_data(lines[-1], 10)
    app.focus()
    app.click_stop()
    wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "the second run to stop")
    app.focus()
    key("alt+d")
    wid = wait_for(app._dialog, 10, "the Data dialog")
    time.sleep(0.5)
    # The preset list has the focus: open it, the last but one entry.
    for k in ("alt+Down", "End", "Up", "Return"):
        key(k)
        time.sleep(0.3)
    for _ in range(9):  # to Readings per row
        key("Tab")
    key("ctrl+a")
    sh("xdotool", "type", "3")
    for _ in range(3):  # to Try a line
        key("Tab")
    sh("xdotool", "type", "--delay", "10", "CH2 -000.40 C")
    s.shoot("data-preview", only=wid)
    key("Escape")
    if app._dialog():
        sh("wmctrl", "-i", "-c", hex(int(wid)), check=False)
    wait_for(lambda: app._dialog() is None, 10, "the Data dialog to close")


def main():
    exe, outdir = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(outdir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="parvelo-shots-")
    # A home of its own, so the file dialogs show no one's files, and a
    # light desktop behind menus that reach past the window.
    home = os.path.join(work, "user")
    os.makedirs(os.path.join(home, "Documents"))
    os.environ["HOME"] = home
    sh("xsetroot", "-solid", "#e8e8e8", check=False)
    serial = SerialLine()
    target = CatTarget(work, name="Target", geometry="80x10+0+700")
    app = Parvelo(exe, {"Settings": {"ExeFileName": "/usr/bin/xterm",
                                     "SavePathName": os.path.join(home, "Documents")},
                        "Properties": {"Settings": "9600,n,8,1", "CommPort": "1",
                                       "Handshaking": "0"}}, serial)
    s = Shooter(app, outdir)
    try:
        s.shoot("main", only=app.window)
        s.menu("alt+f", "menu-file")
        s.menu("alt+h", "menu-help")
        s.dialog(("alt+o",), "option")
        s.dialog(("alt+p",), "property")
        s.dialog(("alt+d",), "data")
        s.dialog(("alt+h", "a"), "about")
        s.dialog(("alt+f", "s"), "log-save")
        s.dialog(("alt+a",), "software-execution")
        # A run: Software Execution starts the target that is typed into the
        # file name box, and readings arrive.
        app.focus()
        key("alt+a")
        wait_for(app._dialog, 10, "the Software Execution dialog")
        time.sleep(0.4)
        key("ctrl+a")
        sh("xdotool", "type", "--delay", "10", target.script)
        key("Return")
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "the run to start")
        for reading in (b"+0012.345 g", b"+0012.351 g", b"+0012.349 g"):
            serial.send(reading + b"\r\n")
            time.sleep(0.4)
        target.wait_data(b"+0012.349 g", 10)
        time.sleep(1.2)  # the connect time shows a second or two
        s.shoot("main-reading", only=app.window)
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "the run to stop")
        data_preview(s, app, serial, target)
    finally:
        app.close()
        target.stop()
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
