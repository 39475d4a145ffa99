#!/usr/bin/env python3
"""End to end into the spreadsheet, under the X session of xsession.sh:
Parvelo launches LibreOffice Calc through Software Execution (real key
presses), lines written on the serial line are typed with the date and the
time both inserted before the data, and the cells are read back from the
saved document: date, time and data in three cells of one row per line.

usage: test_calc_capture.py PARVELO_EXE"""

import os
import re
import sys
import tempfile
import time
from datetime import date

sys.path.insert(0, os.path.dirname(__file__))
from calc_profile import (calc_target, empty_sheet, end_calc, make_profile, read_cells,
                          save_and_quit)  # noqa: E402
from parvelo_session import Parvelo, SerialLine, find_window, wait_for  # noqa: E402

# What is sent, and what the cell shows afterwards (Calc takes numbers as
# numbers, so "+12.50" shows as 12.5). Repeated digits go through twin keys,
# the degree sign, µ, ± and the Japanese text through borrowed keys that are
# mapped while Calc is still reading the earlier lines.
CASES = [
    ("12.5", "12.5"),
    ("11", "11"),
    ("1.511", "1.511"),
    ("100", "100"),
    ("+0012.345 g", "+0012.345 g"),
    ("23.5 °C", "23.5 °C"),
    ("5 µm ± 0.1", "5 µm ± 0.1"),
    ("Aa bb", "Aa bb"),  # a capital first, as AutoCorrect would make it
    ("0.0011", "0.0011"),
    ("日本語", "日本語"),
    ("1000", "1000"),
]


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-calc-")
    profile = make_profile(workdir)
    sheet = empty_sheet(workdir, profile)
    target = calc_target(workdir, profile, sheet)

    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": target, "OpenPathName": workdir,
                                     "InsertDate": "1", "InsertTime": "1"}}, serial)
    try:
        app.software_execution()
        calc = find_window("sheet.ods", timeout=90)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        time.sleep(4)  # let Calc finish loading before the first line
        started = time.monotonic()
        for data, _ in CASES:
            serial.send(data.encode() + b"\r\n")
        time.sleep(3 + len(CASES) * 0.2)
        elapsed = time.monotonic() - started
        save_and_quit(calc, workdir)
    finally:
        app.close()
        end_calc(workdir)

    rows = read_cells(workdir, profile, sheet)
    today = date.today()
    date_forms = {today.isoformat(), today.strftime("%m/%d/%y"), today.strftime("%m/%d/%Y")}
    ok = len(rows) == len(CASES)
    for i, (data, shown) in enumerate(CASES):
        row = rows[i] if i < len(rows) else []
        good = (len(row) == 3 and row[0] in date_forms and
                re.fullmatch(r"\d\d:\d\d:\d\d( [AP]M)?", row[1]) and row[2] == shown)
        if not good:
            print(f"row {i + 1}: sent {data!r}, cells {row!r}")
            ok = False
    if ok:
        chars = sum(len(d) + 22 for d, _ in CASES)
        print(f"{len(CASES)} rows read back exactly from Calc ({chars} characters in {elapsed:.1f} s "
              "including the fixed waits)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
