#!/usr/bin/env python3
"""End to end, under tests/e2e/xsession.sh: Help > Manual (Alt+H M) hands
"Parvelo Manual.pdf" beside the executable to the desktop's opener
(xdg-open), and says so in a message box when the file is not there or no
opener is found. Runs a copy of the program in a folder of its own, so that
the manual of the build tree does not count.

usage: test_manual_menu.py PARVELO_EXE"""

import os
import shutil
import sys
import tempfile
import time
from urllib.parse import unquote

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (Parvelo, SerialLine, Skipped, check, key, run_cases, sh,  # noqa: E402
                             wait_for)

INSTALLED = "/usr/share/doc/parvelo/Parvelo Manual.pdf"


def other_windows(app):
    ids = sh("xdotool", "search", "--onlyvisible", "--pid", str(app.proc.pid),
             check=False).stdout.split()
    return [w for w in ids if w != app.window]


def ask_for_manual(app):
    app.focus()
    key("alt+h")
    time.sleep(0.4)
    key("m")


def main():
    work = tempfile.mkdtemp(prefix="parvelo-manual-")
    exe = os.path.join(work, "parvelo")
    shutil.copy(sys.argv[1], exe)
    manual = os.path.join(work, "Parvelo Manual.pdf")
    opened = os.path.join(work, "opened.txt")
    # An opener that notes what it was given, first on the program's PATH.
    bin_dir = os.path.join(work, "bin")
    os.mkdir(bin_dir)
    with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
        f.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{opened}"\n')
    os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)

    def start(path):
        # PATH for the program alone; exec keeps the PID that the test follows.
        wrapper = os.path.join(work, "run.sh")
        with open(wrapper, "w") as f:
            f.write(f'#!/bin/sh\nPATH="{path}" exec "{exe}"\n')
        os.chmod(wrapper, 0o755)
        return Parvelo(wrapper, {}, SerialLine())

    def expect_box(app, why):
        box = wait_for(lambda: other_windows(app), 10, f"message box ({why})")[0]
        time.sleep(0.3)
        key("Return")
        wait_for(lambda: not other_windows(app), 5, "message box to close")
        return box

    def beside_the_program():
        with open(manual, "wb") as f:
            f.write(b"%PDF-1.4\n")
        app = start(bin_dir + os.pathsep + os.environ["PATH"])
        try:
            ask_for_manual(app)
            wait_for(lambda: os.path.exists(opened), 10, "xdg-open to be called")
            with open(opened) as f:
                got = unquote(f.read().split("\n")[0])
            check(got in (manual, "file://" + manual), f"xdg-open was given {got!r}")
            check(not other_windows(app), "a window opened beside the main window")
            return f"xdg-open {got}"
        finally:
            app.close()
            os.remove(manual)

    def missing():
        if os.path.exists(INSTALLED):
            raise Skipped("the package's manual is installed on this machine")
        app = start(bin_dir + os.pathsep + os.environ["PATH"])
        try:
            os.path.exists(opened) and os.remove(opened)
            ask_for_manual(app)
            expect_box(app, "no manual")
            check(not os.path.exists(opened), "xdg-open was called without a manual")
            return "a message box, no opener started"
        finally:
            app.close()

    def no_opener():
        with open(manual, "wb") as f:
            f.write(b"%PDF-1.4\n")
        # Nothing on PATH that could open a file.
        app = start(os.path.join(work, "empty"))
        try:
            ask_for_manual(app)
            expect_box(app, "no opener")
            return "a message box"
        finally:
            app.close()
            os.remove(manual)

    try:
        return run_cases([("beside_the_program", beside_the_program), ("missing", missing),
                          ("no_opener", no_opener)], sys.argv[2:])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
