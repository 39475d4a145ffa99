#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: Parvelo is
started with a pseudo-terminal as Com1, Software Execution is chosen with
real key presses and launches an xterm running `cat > file`; lines written on
the serial line must arrive in that file byte for byte, under several
keyboard layouts. Then the target is closed while a second xterm holds the
focus: the run must end and the second xterm must receive nothing.

usage: test_xterm_capture.py PARVELO_EXE"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (Parvelo, SerialLine, end_group, find_window, sh,  # noqa: E402
                             wait_for)

LINES = [
    "+0012.345 g",
    "+ % ^ ~ ( ) { } [ ]",
    "11",
    "1.511",
    "100",
    "23.5 °C",
    "5 µm ± 0.1",
    "café é",
    "日本語",
    "a\tb",
    "!\"#$&'*,-./:;<=>?@\\_`|",
]


def make_target(workdir, out):
    """An executable that Software Execution can start without arguments."""
    script = os.path.join(workdir, "target.sh")
    with open(script, "w") as f:
        f.write(f"#!/bin/sh\necho $$ > {workdir}/target.pid\n"
                f"exec xterm -u8 -title target -e sh -c 'stty -echo -icanon; exec cat > {out}'\n")
    os.chmod(script, 0o755)
    return script


def run_layout(exe, layout, workdir):
    sh("setxkbmap", layout)
    out = os.path.join(workdir, f"out-{layout}.txt")
    serial = SerialLine()
    target = make_target(workdir, out)
    app = Parvelo(exe, {"Settings": {"ExeFileName": target,
                                     "OpenPathName": workdir}}, serial)
    try:
        app.software_execution()
        find_window("^target$")
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        wait_for(lambda: os.path.exists(out), 10, "target file")
        time.sleep(0.5)
        started = time.monotonic()
        for i, line in enumerate(LINES):
            ending = [b"\r\n", b"\r", b"\r"][i % 3]
            serial.send(line.encode() + ending)
            if i % 3 == 2:
                serial.send(b"\n")  # an LF that arrives late
        expected = "".join(line + "\n" for line in LINES).encode()
        wait_for(lambda: open(out, "rb").read() == expected or
                 len(open(out, "rb").read()) >= len(expected), 20, "typed text")
        got = open(out, "rb").read()
        elapsed = time.monotonic() - started
        if got != expected:
            print(f"[{layout}] MISMATCH\nexpected {expected!r}\ngot      {got!r}")
            return False
        print(f"[{layout}] {len(LINES)} lines arrived exactly ({elapsed:.2f} s including waits)")
        # xterm has no accessibility interface: said once, and no reading is
        # claimed as read back.
        unverified = wait_for(lambda: [r for r in app.journal() if r[3] == "unverified"], 15,
                              "the journal to say the target cannot be read back")
        time.sleep(0.5)
        claimed = [r for r in app.journal() if r[3] in ("verified", "changed", "unverified")]
        if claimed != unverified or len(unverified) != 1 or b"AT-SPI" not in unverified[0][4]:
            print(f"[{layout}] read-back records: {claimed}")
            return False
        return app, serial
    except Exception:
        app.close()
        raise


def target_gone(app, serial, workdir):
    """The target ends; a second xterm holds the focus; the next line must go
    nowhere and the run must end with the port closed."""
    second_out = os.path.join(workdir, "second.txt")
    wid = find_window("^target$")
    sh("xdotool", "windowkill", wid, check=False)
    second_xterm = subprocess.Popen(["xterm", "-u8", "-title", "second", "-e", "sh", "-c",
                                     f"stty -echo -icanon; exec cat > {second_out}"])
    try:
        return second_window_gets_nothing(app, serial, second_out)
    finally:
        second_xterm.terminate()
        second_xterm.wait(10)


def second_window_gets_nothing(app, serial, second_out):
    second = find_window("^second$")
    sh("xdotool", "windowactivate", "--sync", second, check=False)
    wait_for(lambda: os.path.exists(second_out), 10, "second xterm")
    time.sleep(0.3)
    # Otherwise "nothing arrived there" would prove nothing.
    active = sh("xdotool", "getactivewindow", check=False).stdout.strip()
    if active != second:
        print(f"the second xterm ({second}) does not have the focus ({active})")
        return False
    serial.send(b"must not arrive\r\n")
    wait_for(lambda: serial.slave_path not in app.open_fds(), 10, "port to close")
    time.sleep(0.5)
    data = open(second_out, "rb").read()
    if data:
        print(f"second window received {data!r}")
        return False
    print("target gone: run ended, port closed, second window received nothing")
    return True


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-xterm-")
    ok = True
    for layout in ("us", "de", "fr"):
        result = run_layout(exe, layout, workdir)
        if not result:
            ok = False
            continue
        app, serial = result
        if layout == "de":
            ok = target_gone(app, serial, workdir) and ok
        app.close()
        end_group(os.path.join(workdir, "target.pid"))
    sh("setxkbmap", "us")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
