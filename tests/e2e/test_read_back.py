#!/usr/bin/env python3
"""Reading back from a browser, under the X session of xsession.sh:
Software Execution starts Firefox (a fresh profile) on a page with a text
area, the instrument sends readings, and each typed reading must be
journalled verified, at its place, exactly when the text area holds it.
The page shows the text area's text in its title, which the test reads
through the window system, not through the accessibility bus.

usage: test_read_back.py PARVELO_EXE"""

import os
import shutil
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (Parvelo, SerialLine, check, end_group, find_window,  # noqa: E402
                             run_cases, target_script, wait_for, window_name)

READINGS = ["+0012.345 g", "23.5 °C", "5 µm ± 0.1", "ok 23.5", "S S      100.00 g", "日本語 1"]
PAGE = """<!doctype html><meta charset="utf-8"><title>T:</title>
<textarea id="t" autofocus rows="20" cols="60"
  oninput="document.title = 'T:' + encodeURIComponent(this.value)"></textarea>"""
PREFS = ['browser.shell.checkDefaultBrowser', 'browser.aboutwelcome.enabled',
         'datareporting.policy.dataSubmissionEnabled', 'toolkit.telemetry.reportingpolicy.firstRun',
         'browser.startup.homepage_override.mstone', 'app.update.enabled',
         'browser.sessionstore.resume_from_crash', 'browser.tabs.warnOnClose']


def case_firefox(exe, workdir):
    firefox = shutil.which("firefox-esr") or shutil.which("firefox")
    check(firefox, "Firefox is not installed (tools/test.sh installs firefox-esr)")
    profile = os.path.join(workdir, "profile")
    os.makedirs(profile)
    with open(os.path.join(profile, "user.js"), "w") as f:
        for pref in PREFS:
            value = '"ignore"' if pref.endswith("mstone") else "false"
            f.write(f'user_pref("{pref}", {value});\n')
    page = os.path.join(workdir, "page.html")
    with open(page, "w", encoding="utf-8") as f:
        f.write(PAGE)
    pidfile = os.path.join(workdir, "firefox.pid")
    script = target_script(workdir, "firefox.sh",
                           f"echo $$ > {pidfile}\nexport HOME={workdir}\n"
                           f"exec {firefox} --no-remote --profile {profile} file://{page} "
                           ">/dev/null 2>&1\n")
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}}, serial)
    try:
        app.software_execution()
        window = find_window("^T:", timeout=90)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 20, "the run")
        time.sleep(2)  # the page takes the focus into its text area

        def area():
            title = window_name(window) or ""
            # Firefox adds its name to the page's title.
            title = title.split(" — ")[0].split(" - Mozilla")[0]
            return urllib.parse.unquote(title[2:]) if title.startswith("T:") else None

        for reading in READINGS:
            serial.send(reading.encode() + b"\r\n")
            time.sleep(0.3)
        sent = "".join(r + "\n" for r in READINGS)
        wait_for(lambda: area() == sent, 30, "the readings in the text area")

        def outcomes():
            journal = app.journal()
            ids = [r[2] for r in journal if r[3] == "received"]
            found = {r[2]: (r[3], r[4].decode()) for r in journal
                     if r[3] in ("verified", "changed", "unverified")}
            return [found.get(i) for i in ids]
        wait_for(lambda: None not in outcomes(), 20, "every reading read back")
        got = outcomes()
        want, at = [], 0
        for r in READINGS:
            want.append(("verified", f"at character {at}"))
            at += len(r) + 1
        check(got == want, f"journal {got}, the text area holds every reading: want {want}")
        return f"{len(READINGS)} readings in Firefox's text area, each journalled verified"
    finally:
        app.close()
        end_group(pidfile)


def main():
    exe, only = sys.argv[1], sys.argv[2:]
    workdir = tempfile.mkdtemp(prefix="parvelo-readback-")
    return run_cases([("firefox", lambda: case_firefox(exe, workdir))], only)


if __name__ == "__main__":
    sys.exit(main())
