#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh, with two busy
loops loading the machine: an instrument sends a reading every 100 ms while
Software Execution starts LibreOffice Calc, Gnumeric or a GTK editor (each
with a profile of its own). The readings that arrive while the program
starts are held, and typed once its window is ready. After each launch the
document is saved and read back: it must hold exactly the readings the
instrument sent, in order, some of them must have been held, and every
typed record names a window title.

usage: test_window_ready.py PARVELO_EXE [program...] [--launches N]"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
from calc_profile import empty_sheet, make_profile, read_cells, soffice_env  # noqa: E402
from parvelo_session import (Parvelo, SerialLine, check, end_group,  # noqa: E402
                             find_window, group_members, key, read_pid, run_cases, sh,
                             target_script, wait_for)

STREAM_AFTER_WINDOW = 3.0  # seconds of readings once the window is there


class Instrument(threading.Thread):
    """Sends "1001", "1002", ... ten times a second while not paused, and
    keeps what it sent."""

    def __init__(self, serial):
        super().__init__(daemon=True)
        self.serial = serial
        self.next = 1001
        self.sending = threading.Event()
        self.done = False
        self.sent = []

    def run(self):
        while not self.done:
            if self.sending.is_set():
                self.serial.send(f"{self.next}\r\n".encode())
                self.sent.append(str(self.next))
                self.next += 1
            time.sleep(0.1)


class Program:
    """A target: a script for Software Execution, and how to save its
    document and read it back. Each launch gets a fresh folder."""

    def __init__(self, name, root):
        self.name = name
        self.root = root
        self.count = 0

    def prepare(self):
        self.count += 1
        self.work = os.path.join(self.root, f"{self.name}-{self.count}")
        os.makedirs(self.work)
        self.pidfile = os.path.join(self.work, "pid")
        env = (f"echo $$ > {self.pidfile}\nexport HOME={self.work} "
               f"XDG_CONFIG_HOME={self.work}/config GDK_BACKEND=x11 LANG=C.UTF-8\n")
        if self.name == "calc":
            self.profile = make_profile(self.work)
            self.doc = os.path.join(self.work, "sheet.ods")
            shutil.copy(self.root + "/sheet.ods", self.doc)
            self.window = "sheet.ods"
            command = (f"exec localc --norestore "
                       f"-env:UserInstallation={self.profile} {self.doc} >/dev/null 2>&1\n")
        elif self.name == "gnumeric":
            self.doc = os.path.join(self.work, "sheet.gnumeric")
            shutil.copy(self.root + "/sheet.gnumeric", self.doc)
            self.window = "sheet.gnumeric"
            command = f"exec gnumeric --no-splash {self.doc} >/dev/null 2>&1\n"
        else:
            self.doc = os.path.join(self.work, "readings.txt")
            open(self.doc, "w").close()
            self.window = "readings.txt"
            command = f"exec mousepad {self.doc} >/dev/null 2>&1\n"
        # Software Execution proposes the program chosen last: one script,
        # rewritten for each launch.
        return target_script(self.root, f"{self.name}.sh", env + command)

    def save_and_quit(self, wid):
        sh("xdotool", "windowactivate", "--sync", wid, check=False)
        time.sleep(0.3)
        before = os.path.getmtime(self.doc)
        key("ctrl+s")
        wait_for(lambda: os.path.getmtime(self.doc) != before, 30, f"{self.name} to save")
        time.sleep(1)
        key("ctrl+q")
        pgid = read_pid(self.pidfile)
        try:
            wait_for(lambda: not group_members(pgid), 30, f"{self.name} to end")
        finally:
            end_group(self.pidfile)

    def lines(self):
        if self.name == "calc":
            return [row[0] for row in read_cells(self.work, self.profile, self.doc)]
        if self.name == "gnumeric":
            csv = os.path.join(self.work, "out.csv")
            subprocess.run(["ssconvert", self.doc, csv], check=True, capture_output=True,
                           timeout=60)
            return [line.strip('"') for line in open(csv).read().split("\n") if line]
        return [line for line in open(self.doc).read().split("\n") if line]


def templates(root):
    profile = make_profile(os.path.join(root, "template"))
    shutil.copy(empty_sheet(os.path.join(root, "template"), profile), root)
    empty = os.path.join(root, "empty.csv")
    open(empty, "w").close()
    subprocess.run(["ssconvert", empty, os.path.join(root, "sheet.gnumeric")], check=True,
                   capture_output=True, timeout=60, env=soffice_env())


def launch_once(app, instrument, program):
    seen = len(app.journal())
    first = len(instrument.sent)
    program.prepare()
    started = time.monotonic()
    app.software_execution()
    # From the moment the port is open: what is sent before is nobody's.
    wait_for(lambda: app.title() == "Parvelo[Reading]", 20, "the run to start")
    instrument.sending.set()
    try:
        wid = find_window(program.window, timeout=90)
    except AssertionError:
        shot = os.path.join(program.work, "no-window.png")
        sh("import", "-window", "root", shot, check=False)
        raise AssertionError(f"{program.name} showed no window in 90 s; screen in {shot}")
    appeared = time.monotonic() - started
    time.sleep(STREAM_AFTER_WINDOW)
    instrument.sending.clear()
    time.sleep(0.2)  # a line in the middle of being sent
    sent = instrument.sent[first:]

    def outcomes():
        records = app.journal()[seen:]
        received = [r[2] for r in records if r[3] == "received"]
        typed = {r[2]: r[4].decode() for r in records if r[3] == "typed"}
        return records, received, typed

    wait_for(lambda: len(outcomes()[2]) >= len(sent), 30, "every reading sent to be typed")
    if program.name != "gnumeric":
        # Read back before the program is closed.
        wait_for(lambda: all(rid in {r[2] for r in outcomes()[0] if r[3] in
                                     ("verified", "changed", "unverified")}
                             for rid in outcomes()[2]), 30, "every reading read back")
    app.focus()
    app.click_stop()
    wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
    program.save_and_quit(wid)
    records, received, typed = outcomes()
    texts = {r[2]: r[4].decode() for r in records if r[3] == "received"}
    got = program.lines()
    check(got == sent, f"{program.name}: document {got}, sent {sent}")
    if program.name == "gnumeric":
        check(any(r[2] == "-" and r[3] == "unverified" for r in records),
              "gnumeric: the journal does not say that it cannot be read back")
    else:
        # The document holds every reading as sent: each must be read back so.
        verified = {r[2] for r in records if r[3] == "verified"}
        missing = [(texts[rid], [(r[3], r[4].decode()) for r in records if r[2] == rid][-1])
                   for rid in typed if rid not in verified]
        check(not missing, f"{program.name}: {len(missing)} of {len(typed)} typed readings not "
              f"journalled verified: {missing[:5]}")
    untitled = [texts[rid] for rid, title in typed.items() if not title]
    check(not untitled, f"{program.name}: typed with an empty title: {untitled}")
    held = sum(r[3] == "held" for r in records)
    check(held > 0, f"{program.name}: no reading was held while the program started "
          f"(window after {appeared:.1f} s)")
    return appeared, len(sent), held, sorted(set(typed.values()))


def program_case(exe, root, name, launches):
    serial = SerialLine()
    instrument = Instrument(serial)
    program = Program(name, root)
    script = target_script(root, f"{name}.sh", "exit 1\n")  # rewritten before each launch
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": root}}, serial)
    instrument.start()
    try:
        results = [launch_once(app, instrument, program) for _ in range(launches)]
    finally:
        instrument.done = True
        app.close()
        end_group(getattr(program, "pidfile", ""))
    typed = sum(r[1] for r in results)
    held = sum(r[2] for r in results)
    appeared = ", ".join(f"{r[0]:.1f}" for r in results)
    return (f"{launches} launches, {typed} readings typed, all in the document in order "
            f"({held} of them held while it opened); window after {appeared} s; "
            f"titles {results[0][3]}")


def main():
    args = sys.argv[1:]
    launches = 5
    if "--launches" in args:
        i = args.index("--launches")
        launches = int(args[i + 1])
        del args[i:i + 2]
    exe, only = args[0], args[1:]
    root = tempfile.mkdtemp(prefix="parvelo-ready-")
    templates(root)
    busy = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(2)]
    try:
        cases = [(name, lambda name=name: program_case(exe, root, name, launches))
                 for name in ("calc", "gnumeric", "mousepad")]
        return run_cases(cases, only)
    finally:
        for loop in busy:
            loop.kill()
            loop.wait()


if __name__ == "__main__":
    sys.exit(main())
