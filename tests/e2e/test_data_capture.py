#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: Parvelo asks a
virtual balance for a reading every half second ([Data] Request "S\\r\\n"),
keeps only the stable answers ("S S ..."), and types the number with a
decimal comma and the unit after a TAB. The balance answers "S D" while it
settles, then "S S" once per load. Into an xterm that runs `cat > file`,
only the stable readings may arrive, in order; the unstable ones are in the
journal as skipped. Into LibreOffice Calc under a German locale, the same
readings must land as numbers, not text.

A two-channel thermometer sends "channel,reading" lines; Pick takes the
reading and PerRow=3 puts three readings in a row of Calc, a line that is no
reading taking no cell, and a run stopped in the middle of a row leaves the
next run a new row.

usage: test_data_capture.py PARVELO_EXE VINSTRUMENT_EXE [case...]"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
from calc_profile import (XCU, calc_target, empty_sheet, end_calc, make_profile,  # noqa: E402
                          save_and_quit)
from parvelo_session import (CatTarget, Parvelo, SerialLine, check, find_window,  # noqa: E402
                             run_cases, sh, wait_for)

# The file holds the text the dialog would store: "\r" is backslash and r,
# written as the settings file escapes a backslash.
DATA = {"Request": "S\\\\r\\\\n", "RequestEvery": "0.5", "Keep": "^S S ",
        "NumberOnly": "1", "Decimal": ",", "UnitColumn": "1"}
READINGS = 4
SETTLE = 2  # unstable answers before each stable one


class Balance:
    """vinstrument --kind scale on a pty; every answer it sent is in sent().
    It answers until READINGS stable readings are out, then stays silent, so
    that the run can be stopped with nothing under way."""

    def __init__(self, vinstrument, workdir):
        self.sent_file = os.path.join(workdir, "sent.txt")
        self.proc = subprocess.Popen([vinstrument, "--kind", "scale", "--settle", str(SETTLE),
                                      "--count", str(READINGS * (SETTLE + 1)), "--hold",
                                      "--sent-file", self.sent_file],
                                     stdout=subprocess.PIPE, text=True)
        self.slave_path = self.proc.stdout.readline().strip()

    def sent(self):
        try:
            with open(self.sent_file, "rb") as f:
                return f.read().decode().splitlines()
        except OSError:
            return []

    def stable(self):
        return [line for line in self.sent() if line.startswith("S S ")]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def cell_text(answer):
    """What an answer should become: "S S     100.00 g" -> "100,00\\tg"."""
    value, unit = answer.split()[2:4]
    return value.replace(".", ",") + "\t" + unit


def stop_run(app, readings=READINGS, timeout=30):
    """Stops once that many readings are typed; the instrument has gone silent."""
    wait_for(lambda: sum(r[3] == "typed" for r in app.journal()) >= readings, timeout,
             f"{readings} readings typed")
    time.sleep(0.5)  # the target takes the last keys
    app.focus()
    app.click_stop()
    wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")


def check_journal(app, sent):
    """Every answer is in the journal as received, in order; the unstable
    ones as skipped, the stable ones as typed."""
    received, events = [], {}
    for _, _, rid, event, text in app.journal():
        if event == "received":
            received.append((rid, text.decode()))
        else:
            events.setdefault(rid, []).append(event)
    check([text for _, text in received] == sent,
          f"journal received {[t for _, t in received]}, balance sent {sent}")
    for rid, text in received:
        want = "typed" if text.startswith("S S ") else "skipped"
        check(want in events.get(rid, []), f"{text!r} is {events.get(rid)} in the journal, "
              f"not {want}")
    return sum(text.startswith("S D ") for _, text in received)


def xterm_case(exe, vinstrument, workdir):
    sh("setxkbmap", "us")
    balance = Balance(vinstrument, workdir)
    target = CatTarget(workdir)
    app = Parvelo(exe, {"Settings": {"ExeFileName": target.script, "OpenPathName": workdir},
                        "Data": DATA}, balance)
    try:
        started = time.monotonic()
        app.software_execution()
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        stop_run(app)
        took = time.monotonic() - started
        got = target.data().decode()
        stable = balance.stable()
        want = "".join(cell_text(a) + "\n" for a in stable)
        check(got == want, f"typed {got!r}, balance sent stable {stable}")
        check(got == "100,00\tg\n101,00\tg\n102,00\tg\n103,00\tg\n", f"typed {got!r}")
        skipped = check_journal(app, balance.sent())
        return (f"{got.count(chr(10))} stable readings typed as {got.splitlines()[0]!r}..., "
                f"{skipped} unstable ones skipped; {took:.1f} s from Software Execution to Stop")
    finally:
        app.close()
        target.stop()
        balance.stop()


def german_profile(workdir):
    """The tests' profile with Calc's locale (and so its decimal separator) German."""
    profile = make_profile(workdir)
    xcu = os.path.join(profile[len("file://"):], "user", "registrymodifications.xcu")
    german = ('<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" '
              'oor:op="fuse"><value>de-DE</value></prop></item>\n')
    with open(xcu, "w") as f:
        f.write(XCU.replace("</oor:items>", german + "</oor:items>"))
    return profile


def cell_types(ods, columns=2):
    """(value type, value) of each non-empty cell of the first columns, row by row."""
    with zipfile.ZipFile(ods) as z:
        content = z.read("content.xml").decode()
    rows = []
    for row in re.findall(r"<table:table-row[^>]*>(.*?)</table:table-row>", content, re.S):
        cells = re.findall(r"<table:table-cell([^>]*?)(?:/>|>(.*?)</table:table-cell>)", row, re.S)
        typed = []
        for attrs, body in cells[:columns]:
            vtype = re.search(r'office:value-type="([^"]+)"', attrs)
            value = re.search(r'office:value="([^"]+)"', attrs)
            shown = re.sub(r"<[^>]+>", "", body or "")
            typed.append((vtype.group(1) if vtype else None,
                          value.group(1) if value else shown))
        if any(t for t, _ in typed):
            rows.append(typed)
    return rows


def calc_case(exe, vinstrument, workdir):
    sh("setxkbmap", "de")
    profile = german_profile(workdir)
    sheet = empty_sheet(workdir, profile)
    script = calc_target(workdir, profile, sheet)
    balance = Balance(vinstrument, workdir)
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir},
                        "Data": DATA}, balance)
    try:
        app.software_execution()
        calc = find_window("sheet.ods", timeout=90)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        stop_run(app)
        save_and_quit(calc, workdir)
    finally:
        app.close()
        balance.stop()
        end_calc(workdir)
        sh("setxkbmap", "us")
    rows = cell_types(sheet)
    stable = balance.stable()
    want = [[("float", f"{100 + i}"), ("string", "g")] for i in range(len(stable))]
    check(len(stable) == READINGS and rows == want, f"cells {rows}, balance sent stable {stable}")
    return f"{len(rows)} rows: numbers 100..{99 + len(rows)} with the unit beside each"


# Two runs of a two-channel thermometer; the first stops in the middle of a row.
THERMOMETER = [["1,+021.50 C", "2,+022.50 C", "ERR 2", "1,+021.60 C", "2,+022.60 C"],
               ["1,+021.70 C", "2,-000.40 C", "1,+021.80 C", "2,+021.90 C"]]


def calc_rows_case(exe, workdir):
    sh("setxkbmap", "us")
    profile = make_profile(workdir)
    sheet = empty_sheet(workdir, profile)
    script = calc_target(workdir, profile, sheet)
    thermometer = SerialLine()
    # The settings file doubles a backslash.
    data = {"Pick": r"^\\d+,(.+)", "NumberOnly": "1", "Decimal": ".", "PerRow": "3"}
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir},
                        "Data": data}, thermometer)
    typed = 0
    try:
        app.software_execution()
        calc = find_window("sheet.ods", timeout=90)
        for run, lines in enumerate(THERMOMETER):
            if run:
                app.focus()
                app.click_read_start()
                wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "Read Start")
            for line in lines:
                thermometer.send(line.encode() + b"\r\n")
            typed += sum(not line.startswith("ERR") for line in lines)
            stop_run(app, typed, 60)
        skipped = [r[4] for r in app.journal() if r[3] == "skipped"]
        save_and_quit(calc, workdir)
    finally:
        app.close()
        end_calc(workdir)
    cells = cell_types(sheet, 4)
    rows = [[value for vtype, value in row if vtype] for row in cells]
    want = [["21.5", "22.5", "21.6"], ["22.6"], ["21.7", "-0.4", "21.8"], ["21.9"]]
    check(rows == want, f"cells {cells}, want {want}")
    check(all(vtype == "float" for row in cells for vtype, _ in row if vtype),
          f"readings are numbers: {cells}")
    check(skipped == [b"does not match Pick"], f"skipped in the journal: {skipped}")
    return f"{typed} readings in rows {rows}, Stop after the fourth; \"ERR 2\" skipped"


def main():
    exe, vinstrument = sys.argv[1], sys.argv[2]
    workdir = tempfile.mkdtemp(prefix="parvelo-data-")
    cases = [("xterm", lambda: xterm_case(exe, vinstrument, os.path.join(workdir, "x"))),
             ("calc", lambda: calc_case(exe, vinstrument, os.path.join(workdir, "c"))),
             ("calc_rows", lambda: calc_rows_case(exe, os.path.join(workdir, "r")))]
    for sub in ("x", "c", "r"):
        os.makedirs(os.path.join(workdir, sub))
    return run_cases(cases, sys.argv[3:])


if __name__ == "__main__":
    sys.exit(main())
