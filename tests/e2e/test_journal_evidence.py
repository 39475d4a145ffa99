#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: the journal as
evidence. Two runs of readings are taken from a USB adapter with a serial
name into an xterm; then, on copies of the day's journal Parvelo wrote:

1. Each run opens with a record of who ran it, on which computer, with which
   adapter (its /dev/serial/by-id name) and settings.
2. `parvelo --export-journal FILE --run 2` gives the second run's readings
   as CSV that Python's csv module reads back field for field as sent.
3. `parvelo --check-journal` says intact for the untouched copy and names
   the first broken line after one byte of a record is changed, after a
   record is removed and after one is put in; exit status 0 only if intact.

usage: test_journal_evidence.py PARVELO_EXE"""

import csv
import glob
import io
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import PluggableLine, check, run_cases, wait_for  # noqa: E402
from test_run_faults import start_run  # noqa: E402

ADAPTER = "usb-Parvelo_Test_Adapter_E5V1D3-if00-port0"
# What CSV must quote: commas, quotes; and text that is not ASCII.
RUN1 = ["+0012.345 g", "ST,GS,   12.50 g"]
RUN2 = ['ID "B-7", 3.2 mg', "23.5 °C", "1.511"]


def take_run(app, line, target, readings, typed_before):
    for text in readings:
        line.send(text.encode() + b"\r\n")
    expected = typed_before + "".join(t + "\n" for t in readings).encode()
    got = target.wait_data(expected)
    check(got == expected, f"target got {got!r}, not {expected!r}")
    return expected


def stop(app):
    app.click_stop()
    wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "the run to stop")


def parvelo(exe, *args):
    """Parvelo's status and output, stdout undecoded (CSV ends rows in CR LF)."""
    out = subprocess.run([exe, *args], capture_output=True, timeout=30)
    out.stderr = out.stderr.decode(errors="replace")
    return out


def day_files(folder):
    return sorted(glob.glob(os.path.join(folder, "*.tsv")))


def journal_of_two_runs(exe, workdir):
    """Two runs; returns a copy of the journal folder Parvelo wrote."""
    line = PluggableLine(tempfile.mkdtemp(prefix="adapter-", dir=workdir), ADAPTER)
    app, line, target = start_run(exe, workdir, serial=line)
    try:
        typed = take_run(app, line, target, RUN1, b"")
        stop(app)
        app.click_read_start()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "the second run")
        wait_for(lambda: line.node in app.open_fds(), 10, "the port to open")
        take_run(app, line, target, RUN2, typed)
        stop(app)
        copy = os.path.join(workdir, "journal")
        shutil.copytree(os.path.join(app.config, "Parvelo", "journal"), copy)
        return copy, line
    finally:
        app.close()
        target.stop()


def case_run_records(exe, workdir, folder, line):
    records = [r.split("\t") for f in day_files(folder)
               for r in open(f, encoding="utf-8").read().splitlines()]
    started = [r[4] for r in records if r[3] == "started"]
    check(len(started) == 2, f"{len(started)} run records, not 2")
    expected = [f"user: {pwd.getpwuid(os.geteuid()).pw_name}",
                f"computer: {socket.gethostname()}",
                f"adapter: {os.path.join(line.by_id, ADAPTER)}",
                f"port: Com1 {line.slave_path}"]
    for text in started:
        items = text.split("\\n")
        missing = [e for e in expected if e not in items]
        check(not missing, f"run record {items!r} lacks {missing!r}")
        check(any(i.startswith("Data: ") and "; Request=;" in i for i in items),
              f"no Data settings: {items!r}")
    return "both runs name user, computer, adapter and port"


def case_export(exe, workdir, folder, line):
    files = day_files(folder)
    out = parvelo(exe, "--export-journal", *files, "--run", "2")
    check(out.returncode == 0, f"export: status {out.returncode}, {out.stderr!r}")
    text = out.stdout.decode("utf-8")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    check(rows[0] == ["time", "port", "reading id", "received text", "outcome",
                      "where it landed"], f"header {rows[0]!r}")
    check(text.count("\r\n") == len(RUN2) + 1 and text.endswith("\r\n"),
          "rows do not end in CR LF")
    readings = rows[1:]
    check([r[3] for r in readings] == RUN2, f"received texts {[r[3] for r in readings]!r}")
    for r in readings:
        check(r[1] == f"Com1 {line.slave_path}", f"port {r[1]!r}")
        check(r[4] == "typed" and r[5] == "target", f"outcome {r[4]!r} into {r[5]!r}")
        check(r[0][:4].isdigit() and "T" in r[0], f"time {r[0]!r}")
    check(len({r[2] for r in readings}) == len(RUN2), "reading ids repeat")
    whole = list(csv.reader(io.StringIO(
        parvelo(exe, "--export-journal", *files).stdout.decode("utf-8"), newline="")))
    check([r[3] for r in whole[1:]] == RUN1 + RUN2, "every run's readings, in order")
    check(parvelo(exe, "--export-journal", *files, "--run", "3").returncode == 2,
          "a run that is not there is not an error")
    return f"run 2: {len(readings)} readings read back field for field"


def check_copy(exe, workdir, folder, name, edit):
    """A copy of the journal with the last day's lines edited by edit(lines);
    returns --check-journal's status and output for that day."""
    copy = os.path.join(workdir, name)
    shutil.copytree(folder, copy)
    day = day_files(copy)[-1]
    with open(day, "rb") as f:
        lines = f.read().split(b"\n")[:-1]
    lines = edit(lines)
    with open(day, "wb") as f:
        f.write(b"".join(x + b"\n" for x in lines))
    out = parvelo(exe, "--check-journal", *day_files(copy))
    return out.returncode, out.stdout.decode() + out.stderr


def case_tampering(exe, workdir, folder, line):
    status, said = check_copy(exe, workdir, folder, "untouched", lambda lines: lines)
    check(status == 0 and said.count("intact") == len(day_files(folder)),
          f"untouched: {status} {said!r}")
    with open(day_files(folder)[-1], "rb") as f:
        lines = f.read().split(b"\n")[:-1]
    # The line of the second run's "1.511", counted from 1.
    target = next(i for i, x in enumerate(lines) if b"\treceived\t1.511\t" in x) + 1

    def changed(lines):
        lines[target - 1] = lines[target - 1].replace(b"1.511", b"1.517")
        return lines

    def removed(lines):
        return lines[:target - 1] + lines[target:]

    def inserted(lines):
        fields = lines[target - 1].split(b"\t")
        fields[2] += b"9"
        return lines[:target - 1] + [b"\t".join(fields)] + lines[target - 1:]

    # A record removed from the end shows nowhere but in the day after.
    check(target < len(lines), "the reading is the day's last record")
    seen = []
    for name, edit in (("changed", changed), ("removed", removed), ("inserted", inserted)):
        status, said = check_copy(exe, workdir, folder, name, edit)
        check(status == 1 and f": line {target} " in said,
              f"{name}: status {status}, {said!r}; expected line {target}")
        seen.append(said.strip().splitlines()[-1])
    print("    " + "\n    ".join(seen))
    return f"changed, removed and inserted record each named at line {target}"


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-evidence-")
    started = time.monotonic()
    folder, line = journal_of_two_runs(exe, workdir)
    print(f"two runs journalled ({time.monotonic() - started:.1f} s)")
    cases = [(name, lambda run=run: run(exe, workdir, folder, line))
             for name, run in (("run_records", case_run_records), ("export", case_export),
                               ("tampering", case_tampering))]
    return run_cases(cases, sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
