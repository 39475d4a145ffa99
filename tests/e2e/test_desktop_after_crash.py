#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: Parvelo leaves
the user's desktop as it was.

1. Killed (SIGKILL) in the middle of a burst that borrows spare keys, with
   a Shift left down: the next start gives the keys back and releases the
   Shift, and what it types is exact.
2. Stop gives borrowed keys back; the next Read Start borrows them again.
3. A launched program that ends at once without a window (/bin/true): the
   run says so within seconds, with the exit status.

usage: test_desktop_after_crash.py PARVELO_EXE [CASE...]"""

import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import x11state  # noqa: E402
from parvelo_session import Parvelo, SerialLine, check, run_cases, sh, wait_for  # noqa: E402
from test_run_faults import start_run  # noqa: E402

RARE = "µ°±é日本Ω"


def case_crash(exe, workdir):
    before = x11state.keymap()
    app, serial, target = start_run(exe, workdir)
    try:
        lines = [f"Abc{i} {RARE[i % len(RARE)]}{RARE[(i + 3) % len(RARE)]} XYZ" for i in range(400)]
        serial.send(b"".join(line.encode() + b"\r\n" for line in lines[:200]))
        wait_for(lambda: target.data().count(b"\n") > 30, 20, "lines to be typed")
        os.kill(app.proc.pid, signal.SIGKILL)
        app.proc.wait(5)
    finally:
        app.close()
        target.stop()
    borrowed = sum(1 for k, sym in x11state.keymap().items() if sym != before[k])
    check(borrowed > 0, "the kill left no borrowed key: nothing to mend")
    # A kill between pressing Shift and releasing it leaves it down (2 of
    # 33 kills did), too rarely to wait for: the test presses it as that
    # instance would have left it, and only checks that it is down.
    sh("xdotool", "keydown", "Shift_L")
    check(x11state.modifiers_down(), "the Shift pressed for the test is not down")

    # The next start, before any run: the keyboard is as it was.
    app = Parvelo(exe, {}, SerialLine())
    try:
        check(x11state.keymap() == before, "borrowed keys still mapped after the next start")
        check(x11state.modifiers_down() == [], f"modifiers down: {x11state.modifiers_down()}")
    finally:
        app.close()
    app, serial, target = start_run(exe, workdir)
    try:
        serial.send(b"abc1\r\n")
        check(target.wait_data(b"abc1\n") == b"abc1\n", f"typed {target.data()!r}")
    finally:
        app.close()
        target.stop()
    return (f"{borrowed} borrowed keys left by the kill, and a Shift held as a kill may leave "
            "it, put back by the next start")


def case_stop_gives_keys_back(exe, workdir):
    before = x11state.keymap()
    app, serial, target = start_run(exe, workdir)
    try:
        serial.send(f"{RARE}\r\n".encode())
        check(target.wait_data(f"{RARE}\n".encode()) == f"{RARE}\n".encode(), "first line")
        check(x11state.keymap() != before, "no key was borrowed")
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        wait_for(lambda: x11state.keymap() == before, 10, "keys given back at Stop")
        app.click_read_start()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "Read Start")
        serial.send(f"{RARE}!\r\n".encode())
        both = f"{RARE}\n{RARE}!\n".encode()
        check(target.wait_data(both) == both, f"typed {target.data()!r}")
    finally:
        app.close()
        target.stop()
    check(x11state.keymap() == before, "keys still borrowed after exit")
    return "keys given back at Stop, borrowed again at Read Start"


def case_program_without_window(exe, workdir):
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": "/bin/true", "OpenPathName": "/bin"}}, serial)
    try:
        started = time.monotonic()
        app.software_execution()
        serial.send(b"1.5\r\n")
        wait_for(lambda: app.title() == "Parvelo[Stop]", 15, "the run to end")
        took = time.monotonic() - started
        log = app.save_log(os.path.join(workdir, "true.txt")).decode()
        check('"/bin/true" ended with exit status 0 and showed no window' in log, f"log {log!r}")
        check(took < 10, f"the run ended only after {took:.1f} s")
        return f"reported after {took:.1f} s"
    finally:
        app.close()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-crash-")
    print(f"work folder {workdir}")
    sh("setxkbmap", "us")
    cases = [
        ("crash", lambda: case_crash(exe, workdir)),
        ("stop gives keys back", lambda: case_stop_gives_keys_back(exe, workdir)),
        ("program without window", lambda: case_program_without_window(exe, workdir)),
    ]
    return run_cases(cases, sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
