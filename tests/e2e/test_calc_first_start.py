#!/usr/bin/env python3
"""End to end, under the X session of xsession.sh: Parvelo launches
LibreOffice Calc with a fresh profile, so Calc opens its first-start box
("Tip of the Day") in front of the document. Readings that arrive while the
box is up must be held, not typed into the box (Return would press its OK)
nor into the document; once the user closes the box they must all be typed
into the document, in order, one row each. The log and the journal must
tell the same story.

usage: test_calc_first_start.py PARVELO_EXE"""

import os
import signal
import subprocess
import sys
import tempfile
import time
from datetime import datetime

sys.path.insert(0, os.path.dirname(__file__))
from calc_profile import XCU, empty_sheet, make_profile, read_cells  # noqa: E402
from parvelo_session import (  # noqa: E402
    Failed, Parvelo, SerialLine, check, find_window, key, pid_alive, sh, wait_for, window_name)

# Plain numbers: nothing in Calc's input help can change them.
READINGS = ["12.5", "11", "1.511", "100", "0.0011"]
# Left at their fresh defaults, so that Calc shows its first-start boxes.
FIRST_START_KEYS = ("FirstRun", "ShowTipOfTheDay", "ooSetupInstCompleted", "ooSetupLastVersion")


def fresh_profile(workdir):
    """A profile Calc has never run with, as a new user's."""
    profile = os.path.join(workdir, "lo-fresh")
    os.makedirs(os.path.join(profile, "user"))
    xcu = "".join(line + "\n" for line in XCU.splitlines()
                  if not any(k in line for k in FIRST_START_KEYS))
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write(xcu)
    return "file://" + profile


def descendants(pid):
    """pid and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo += children.get(p, [])
    return found


def calc_windows():
    """Visible LibreOffice windows as {id: title}. Under gtk3 the main
    window's class is libreoffice-calc, its dialogs' Soffice."""
    ids = sh("xdotool", "search", "--onlyvisible", "--class", "libreoffice|soffice",
             check=False).stdout.split()
    return {w: window_name(w) for w in ids if window_name(w)}


def properties(wid):
    out = sh("xprop", "-id", wid, "WM_TRANSIENT_FOR", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE",
             check=False).stdout
    return [line.strip() for line in out.splitlines()]


def focused():
    wid = sh("xdotool", "getwindowfocus", check=False).stdout.strip()
    return wid, window_name(wid) if wid else ""


def when(record):
    return datetime.fromisoformat(record[0])


def main():
    exe = sys.argv[1]
    began = time.monotonic()
    workdir = tempfile.mkdtemp(prefix="parvelo-first-start-")
    # The helper runs of soffice (new sheet, CSV export) get a profile of
    # their own: they would complete the first start of the fresh one.
    tools = make_profile(os.path.join(workdir, "tools"))
    sheet = empty_sheet(workdir, tools)
    profile = fresh_profile(workdir)
    pidfile = os.path.join(workdir, "calc.pid")
    target = os.path.join(workdir, "calc.sh")
    with open(target, "w") as f:
        f.write("#!/bin/sh\n"
                f"echo $$ > {pidfile}\n"
                "exec /usr/lib/libreoffice/program/soffice --calc --norestore "
                f"-env:UserInstallation={profile} {sheet}\n")
    os.chmod(target, 0o755)

    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": target, "OpenPathName": workdir}}, serial)
    calc_pid = None
    try:
        app.software_execution()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        wait_for(lambda: os.path.getsize(pidfile) if os.path.exists(pidfile) else 0, 10,
                 "Calc to start")
        calc_pid = int(open(pidfile).read())
        main_window = find_window("sheet.ods", timeout=90)
        dialog = wait_for(lambda: next((w for w in calc_windows()
                                        if w != main_window), None), 60, "the first-start box")
        time.sleep(1)  # the box is drawn and has the focus
        title = window_name(dialog)
        print(f"main window {main_window}: {window_name(main_window)!r}")
        for line in properties(main_window):
            print(f"  {line}")
        print(f"first-start box {dialog}: {title!r}")
        for line in properties(dialog):
            print(f"  {line}")
        print(f"all visible LibreOffice windows: {calc_windows()}")
        print(f"focus on {focused()}")

        for r in READINGS:
            serial.send(r.encode() + b"\r\n")
            time.sleep(0.3)
        time.sleep(1.5)  # a reading typed into the box would have closed it by now

        shot = os.path.join(workdir, "held.png")
        sh("import", "-window", "root", shot)
        print(f"screenshot while held: {shot}")
        windows = calc_windows()
        print(f"after the readings: windows {windows}, focus on {focused()}")
        check(windows.get(dialog) == title,
              f"the box {title!r} is gone or changed: {windows} (a reading reached it)")
        early = [rec for rec in app.journal() if rec[3] == "typed"]
        check(not early, f"typed while the box was up: {early}")

        if focused()[0] != dialog:
            sh("xdotool", "windowactivate", "--sync", dialog, check=False)
        # Journal times have milliseconds.
        now = datetime.now().astimezone()
        pressed_at = now.replace(microsecond=now.microsecond // 1000 * 1000)
        pressed = time.monotonic()
        key("Escape")  # the box's Cancel, as a user would close it
        wait_for(lambda: dialog not in calc_windows(), 10, "the box to close on Escape")
        print(f"box closed by Escape; focus on {focused()}")

        def typed_ids():
            return {rec[2] for rec in app.journal() if rec[3] == "typed"}
        wait_for(lambda: len(typed_ids()) >= len(READINGS), 20, "the held readings to be typed")
        print(f"all typed {time.monotonic() - pressed:.2f} s after Escape")
        time.sleep(0.5)

        sh("xdotool", "windowactivate", "--sync", main_window, check=False)
        key("ctrl+s")
        time.sleep(2)
        key("ctrl+q")
        wait_for(lambda: not pid_alive(calc_pid), 60, "Calc to end")

        app.focus()
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop to take effect")
        log = app.save_log(os.path.join(workdir, "log.txt")).decode("utf-8")
        journal = app.journal()
    finally:
        app.close()
        for pid in reversed(descendants(calc_pid) if calc_pid else []):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    lines = [line for line in log.split("\r\n") if line]
    print("log:")
    for line in lines:
        print(f"  {line}")
    reason = f'Readings are held: the target shows the dialog "{title}".'
    release = f"The target takes keys again: typing the {len(READINGS)} held readings."
    told = ("The target is LibreOffice Calc, a spreadsheet: each reading goes into its cell as "
             "data, never as a formula.")
    expected = [reason] + [f"[held] {r}" for r in READINGS] + [release, told] + READINGS
    # Other reasons may come between (the focus takes a moment to come back
    # after the box has gone), nothing else may.
    shown = [line for line in lines
             if line == reason or not line.startswith("Readings are held: ")]
    check(shown == expected, f"log lines {shown!r}, expected {expected!r}")

    received = [rec for rec in journal if rec[3] == "received"]
    check([rec[4] for rec in received] == [r.encode() for r in READINGS],
          f"journal received {[rec[4] for rec in received]!r}")
    print("journal:")
    for r, rec in zip(READINGS, received):
        events = [x for x in journal if x[2] == rec[2]]
        print(f"  {rec[2]} {r}: " + ", ".join(f"{x[3]} {x[0][11:23]} {x[4].decode()!r}"
                                              for x in events))
        # The cells hold the readings as sent (below): each is read back so.
        check([x[3] for x in events] == ["received", "held", "typed", "verified"],
              f"journal for {r}: {[x[3] for x in events]}")
        check(events[1][4].decode() == reason[len("Readings are held: "):-1],
              f"held for {events[1][4]!r}")
        check(when(events[2]) >= pressed_at,
              f"{r} typed at {events[2][0]}, before the box was closed at {pressed_at}")
        check(events[2][4].decode().startswith("sheet.ods"),
              f"{r} typed into {events[2][4]!r}, not the document")
    held_for = [(when(x) - when(rec)).total_seconds() for rec in received
                for x in journal if x[2] == rec[2] and x[3] == "typed"]
    print(f"held {min(held_for):.2f} s to {max(held_for):.2f} s")

    rows = read_cells(workdir, tools, sheet)
    print(f"cells: {rows}")
    check(rows == [[r] for r in READINGS], f"cells {rows!r}, expected one row per reading")
    print(f"PASS: {len(READINGS)} readings held behind {title!r} and typed after it closed "
          f"({time.monotonic() - began:.1f} s)")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (Failed, AssertionError, subprocess.SubprocessError) as e:
        print(f"FAIL: {e}")
        sys.exit(1)
