#!/usr/bin/env python3
"""The screen locks in the middle of a run, under the X session of
xsession.sh: readings stream into an xterm, 5 a second; after 3 s a real
screen locker (i3lock, which grabs keyboard and pointer as every X locker
does) locks the screen, and 5 s later it is unlocked (the locker ends).

Every reading sent must arrive in the target exactly once, in order, so none
went into the locker's password box; the log must say the readings were
held because the screen was locked.

usage: test_screen_lock.py PARVELO_EXE"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (CatTarget, SerialLine, check, run_cases, sh,  # noqa: E402
                             start_reading, wait_for)

PER_SECOND = 5
BEFORE, LOCKED, AFTER = 3.0, 5.0, 2.0


def stream(serial, sent, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        line = f"r{len(sent) + 1:04d} 23.5 g"
        serial.send(line.encode() + b"\r\n")
        sent.append(line)
        time.sleep(1 / PER_SECOND)


def case_lock(exe, workdir):
    serial = SerialLine()
    target = CatTarget(workdir)
    app = start_reading(exe, workdir, serial, target)
    locker = None
    try:
        sent = []
        stream(serial, sent, BEFORE)
        locker = subprocess.Popen(["i3lock", "--nofork", "--color", "202020"],
                                  stderr=subprocess.PIPE)
        locked_at = len(sent)
        stream(serial, sent, LOCKED)
        if locker.poll() is not None:
            check(False, f"i3lock ended: {locker.stderr.read().decode()!r}")
        shot = os.path.join(workdir, "locked.png")
        sh("import", "-window", "root", shot, check=False)
        locker.terminate()
        locker.wait(5)
        unlocked_at = len(sent)
        stream(serial, sent, AFTER)
        want = "".join(line + "\n" for line in sent).encode()
        got = target.wait_data(want, 30)
        lines = got.decode(errors="replace").split("\n")[:-1]
        check(got == want, f"{len(sent)} readings sent, target got {len(lines)}; first "
              f"missing: {next((s for s in sent if s not in lines), None)!r}")
        app.focus()
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        log = app.save_log(os.path.join(workdir, "log.txt")).decode("utf-8-sig")
        check("Readings are held: the screen is locked." in log,
              "the log does not say the readings were held for the locked screen")
        held = [r for r in app.journal() if r[3] == "held"]
        check(any(r[4] == b"the screen is locked" for r in held),
              "no reading is journalled held for the locked screen")
        held = len(held)
        return (f"{len(sent)} readings, {unlocked_at - locked_at} of them sent while the screen "
                f"was locked, all in the target in order; {held} journalled held")
    finally:
        if locker and locker.poll() is None:
            locker.kill()
        app.close()
        target.stop()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-lock-")
    return run_cases([("lock", lambda: case_lock(exe, workdir))], sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
