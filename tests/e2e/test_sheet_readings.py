#!/usr/bin/env python3
"""Readings into spreadsheets as users have them, under the X session of
xsession.sh: Software Execution starts LibreOffice Calc (AutoInput and
AutoCorrect on, the plugin it picks itself) or Gnumeric (as installed), an
instrument sends lines that a spreadsheet would take as formulas, complete
from the cells above or rewrite, and the saved document is read back.

Each reading must have a row of its own, no cell may be a formula, and each
cell holds the line as sent, or the same number (or date and time) for a
line that is one. Where Calc itself changes a text (AutoCorrect, and the
apostrophe it shows before a text that would be a formula), the cell must
hold exactly what that change makes of the line, and Parvelo's log must say
so.

usage: test_sheet_readings.py PARVELO_EXE [calc] [gnumeric]"""

import gzip
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from calc_profile import empty_sheet, make_profile, soffice_env  # noqa: E402
from parvelo_session import (Parvelo, SerialLine, check, end_group, find_window,  # noqa: E402
                             group_members, key, read_pid, run_cases, sh, target_script,
                             wait_for)

LINES = [
    # As a thermometer, a balance and a pH meter send them.
    "-3.5 C", "+21.4 C", "+0012.345 g", "S S      100.00 g", "pH 7.01",
    "12.50", "-0.25 mm", "=1+1", "ok", "N     +    12.345 g",
    # Formulas and what starts like one.
    "=A1", "@SUM(1)", "-12 A1", "+1-2", "-3.5 °C", "-5 m/s",
    # Completions from the cells above, numbers with leading zeros.
    "12.5 g", "12", "S", "0007",
    # What AutoCorrect acts on; a leading apostrophe.
    "ok 23.5", "i am 5", "1/2", "x 'q' y", "'ok",
    # A time and a date.
    "12:30:05", "2026-12-08",
]

PLAIN_NUMBER = re.compile(r"\s*[+-]?(\d+(\.\d*)?|\.\d+)\s*")


def calc_autocorrect(line):
    """What Calc's AutoCorrect, as installed, makes of a line typed into a
    cell: a first word of two letters or more in small letters gets a
    capital, a lone "i" becomes
    "I", 1/2 becomes ½, straight quotes become curly (not an apostrophe
    that starts the cell, which marks text)."""
    out = re.sub(r"^(\s*)(\w)(\S+\s)", lambda m: m[1] + m[2].upper() + m[3], line)
    out = re.sub(r"(^|\s)i(?=\s|$)", r"\1I", out)
    out = out.replace("1/2", "\u00bd")
    chars = list(out)
    for i, c in enumerate(chars):
        if c in "'\"" and i > 0:
            opening = chars[i - 1].isspace()
            chars[i] = {("'", True): "\u2018", ("'", False): "\u2019",
                        ('"', True): "\u201c", ('"', False): "\u201d"}[(c, opening)]
    return "".join(chars)


def same_number(line, cell):
    try:
        return float(line) == float(cell["value"])
    except (TypeError, ValueError):
        return False


def same_date_or_time(line, cell):
    """A date or time value equal to the one sent (Calc reads them so)."""
    if cell["type"] == "date":
        return cell["value"].startswith(line)
    if cell["type"] == "time":
        m = re.fullmatch(r"PT(\d+)H(\d+)M(\d+)S", cell["value"] or "")
        return bool(m) and line == "%02d:%02d:%02d" % tuple(int(x) for x in m.groups())
    return False


def ods_cells(path):
    """Column A of an .ods: dicts of shown text, type, value and formula."""
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["unzip", "-q", "-o", path, "content.xml", "-d", tmp], check=True)
        xml = open(os.path.join(tmp, "content.xml"), encoding="utf-8").read()
    cells = []
    for row in re.finditer(r"<table:table-row[^>]*>(.*?)</table:table-row>", xml, re.S):
        m = re.match(r"<table:table-cell([^>]*?)(/>|>(.*?)</table:table-cell>)", row[1], re.S)
        if not m or "office:value-type" not in m[1]:
            continue
        attrs, body = m[1], m[3] or ""
        text = "\n".join(re.findall(r"<text:p>(.*?)</text:p>", body, re.S))
        text = re.sub(r'<text:s text:c="(\d+)"/>', lambda s: " " * int(s[1]), text)
        text = html.unescape(re.sub(r"<[^>]+>", "", text.replace("<text:s/>", " ")))
        kind = re.search(r'office:value-type="(\w+)"', attrs)[1]
        value = re.search(r'office:(?:date-|time-|boolean-)?value="([^"]*)"', attrs)
        formula = re.search(r'table:formula="([^"]*)"', attrs)
        cells.append({"text": text, "type": kind, "value": value and value[1],
                      "formula": formula and html.unescape(formula[1])})
    return cells


def gnumeric_cells(path):
    """Column A of a .gnumeric file, by row."""
    xml = gzip.open(path).read().decode("utf-8")
    cells = {}
    for m in re.finditer(r"<gnm:Cell ([^>]*)>(.*?)</gnm:Cell>", xml, re.S):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', m[1]))
        if attrs.get("Col") != "0":
            continue
        content = html.unescape(m[2])
        formula = "ValueType" not in attrs and content.startswith("=")
        kind = {"60": "string", "40": "float"}.get(attrs.get("ValueType"), attrs.get("ValueType"))
        cells[int(attrs["Row"])] = {"text": content, "type": kind, "value": content,
                                    "formula": content if formula else None}
    return [cells[r] for r in sorted(cells)]


class Sheet:
    def __init__(self, name, work):
        self.name = name
        self.work = work
        self.pidfile = os.path.join(work, "pid")
        env = (f"echo $$ > {self.pidfile}\nexport HOME={work} XDG_CONFIG_HOME={work}/config "
               "LANG=C.UTF-8\n")
        if name == "calc":
            self.profile = make_profile(work)
            self.doc = empty_sheet(work, self.profile)
            command = f"exec localc --norestore -env:UserInstallation={self.profile} {self.doc}"
        else:
            empty = os.path.join(work, "empty.csv")
            open(empty, "w").close()
            self.doc = os.path.join(work, "sheet.gnumeric")
            subprocess.run(["ssconvert", empty, self.doc], check=True, capture_output=True,
                           timeout=60, env=soffice_env())
            command = f"exec gnumeric --no-splash {self.doc}"
        self.script = target_script(work, f"{name}.sh", env + command + " >/dev/null 2>&1\n")

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

    def cells(self):
        return ods_cells(self.doc) if self.name == "calc" else gnumeric_cells(self.doc)


def judge(sheet_name, lines, cells, log):
    """The problems found, one text each; empty when every reading landed."""
    problems = []
    if len(cells) != len(lines):
        problems.append(f"{len(lines)} readings sent, {len(cells)} cells filled")
    autocorrect_told = "AutoCorrect may change" in log
    for i, line in enumerate(lines):
        cell = cells[i] if i < len(cells) else None
        if cell is None:
            problems.append(f"{line!r}: no cell")
            continue
        if cell["formula"]:
            problems.append(f"{line!r}: a formula, {cell['formula']!r}")
            continue
        if cell["text"] == line:
            continue
        if PLAIN_NUMBER.fullmatch(line) and same_number(line, cell):
            continue
        if sheet_name == "calc" and same_date_or_time(line, cell):
            continue
        # Calc shows the apostrophe that makes a would-be formula text.
        if sheet_name == "calc" and cell["text"] == "'" + line:
            if f'{line} [the cell shows "\'{line}"]' not in log:
                problems.append(f"{line!r}: the cell shows {cell['text']!r}, the log does not "
                                "say so")
            continue
        if sheet_name == "calc" and cell["text"] == calc_autocorrect(line):
            if not autocorrect_told:
                problems.append(f"{line!r}: AutoCorrect made it {cell['text']!r}, the log does "
                                "not say it may")
            continue
        problems.append(f"{line!r}: the cell holds {cell['text']!r} ({cell['type']})")
    return problems


def read_back(journal):
    """What the journal says each typed reading was read back as, in the
    order the readings were received: (event, detail)."""
    order = [r[2] for r in journal if r[3] == "received"]
    found = {r[2]: (r[3], r[4].decode()) for r in journal
             if r[3] in ("verified", "changed", "unverified")}
    return [found[i] for i in order if i in found]


def judge_read_back(cells, outcomes, log):
    """The saved document decides: a cell that holds its line as sent (or
    the same number, or with the apostrophe the log announced) must be
    journalled verified at its address, any other changed, with what the
    cell shows."""
    problems = []
    for row, (line, cell, (event, detail)) in enumerate(zip(LINES, cells, outcomes), 1):
        as_sent = (cell["text"] in (line, "'" + line) or same_number(line, cell)
                   or same_date_or_time(line, cell))
        if as_sent and (event, detail) != ("verified", f"A{row}"):
            problems.append(f"{line!r} in A{row} as sent, journalled {event} {detail!r}")
        if not as_sent:
            shows = f'A{row}: the cell shows "{cell["text"]}"'
            if (event, detail) != ("changed", shows):
                problems.append(f"{line!r} became {cell['text']!r}, journalled {event} "
                                f"{detail!r}")
            elif f'{line} [changed by the target: the cell shows "{cell["text"]}"]' not in log:
                problems.append(f"{line!r}: the log does not mark it changed")
    return problems


def sheet_case(exe, root, name):
    work = os.path.join(root, name)
    os.makedirs(work)
    sheet = Sheet(name, work)
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": sheet.script, "OpenPathName": work,
                                     "InsertDate": "0", "InsertTime": "0"}}, serial)
    try:
        app.software_execution()
        wid = find_window(os.path.basename(sheet.doc), timeout=90)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        # As an instrument sends them: one at a time, while the sheet may
        # still be opening (they are held until it takes keys).
        for line in LINES:
            serial.send(line.encode() + b"\r\n")
            time.sleep(0.4)

        def typed():
            return sum(r[3] == "typed" for r in app.journal())
        wait_for(lambda: typed() == len(LINES), 60, "every reading to be typed")
        if name == "calc":
            # Each reading is read back from its cell a moment after its keys.
            wait_for(lambda: len(read_back(app.journal())) == len(LINES), 30,
                     "every reading to be read back")
        else:
            wait_for(lambda: any(r[2] == "-" and r[3] == "unverified" for r in app.journal()),
                     30, "the journal to say that Gnumeric cannot be read back")
        app.focus()
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        log = app.save_log(os.path.join(work, "log.txt")).decode("utf-8-sig")
        outcomes = read_back(app.journal())
        sheet.save_and_quit(wid)
    finally:
        app.close()
        end_group(sheet.pidfile)
    cells = sheet.cells()
    problems = judge(name, LINES, cells, log)
    if problems:
        shutil.copy(sheet.doc, os.path.join(tempfile.gettempdir(), f"sheet-readings-{name}"))
        print(log)
    if name == "calc":
        problems += judge_read_back(cells, outcomes, log)
    check(not problems, f"{name}: " + "; ".join(problems))
    exact = sum(c["text"] == line for c, line in zip(cells, LINES))
    changed = [f"{line!r} -> {c['text']!r}" for c, line in zip(cells, LINES) if c["text"] != line]
    print(f"{name}: not as sent: " + ", ".join(changed))
    return (f"{len(LINES)} readings, each in its own cell, none a formula; {exact} exactly as "
            "sent, the rest the same number or a change the log names")


def main():
    exe, only = sys.argv[1], sys.argv[2:]
    root = tempfile.mkdtemp(prefix="parvelo-sheets-")
    cases = [(name, lambda name=name: sheet_case(exe, root, name))
             for name in ("calc", "gnumeric")]
    return run_cases(cases, only)


if __name__ == "__main__":
    sys.exit(main())
