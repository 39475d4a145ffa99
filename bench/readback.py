#!/usr/bin/env python3
"""What reading back costs: readings sent at once into LibreOffice Calc (as
installed) and into Mousepad, each started by Software Execution, with
read-back on and off (PARVELO_READ_BACK=off), runs alternating. Prints for
each run the typing throughput (characters a second, from the moment the
lines were sent to the moment the target saved the document, a Ctrl+S
queued behind the last key), the lines that landed wrong (the saved
document against what was sent), and with read-back on the lag from a
reading's "typed" record to its "verified" one (median and p99); in a
burst that is mostly the target's backlog, so the lag is also measured with
readings sent at four a second.

usage: tests/e2e/xsession.sh python3 bench/readback.py build/parvelo [--lines N] [--pairs N]"""

import argparse
import datetime
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import calc_profile  # noqa: E402
from parvelo_session import (Parvelo, SerialLine, end_group, find_window, key,  # noqa: E402
                             sh, target_script, wait_for)


def target(name, work):
    """(script, window name, document path, reader of the saved lines, end)."""
    if name == "calc":
        profile = calc_profile.make_profile(work)
        sheet = calc_profile.empty_sheet(work, profile)
        return (calc_profile.calc_target(work, profile, sheet), "sheet.ods", sheet,
                lambda: [row[0] for row in calc_profile.read_cells(work, profile, sheet)],
                lambda: calc_profile.end_calc(work))
    doc = os.path.join(work, "readings.txt")
    open(doc, "w").close()
    pidfile = os.path.join(work, "pid")
    script = target_script(work, "mousepad.sh",
                           f"echo $$ > {pidfile}\nexport HOME={work} XDG_CONFIG_HOME={work}/c\n"
                           f"exec mousepad {doc} >/dev/null 2>&1\n")
    return (script, "readings.txt", doc,
            lambda: [line for line in open(doc).read().split("\n") if line],
            lambda: end_group(pidfile))


def stamp(text):
    return datetime.datetime.fromisoformat(text).timestamp()


def lag_text(lags, others):
    if not lags:
        return f"nothing verified, {others} changed or unverified"
    p99 = lags[min(len(lags) - 1, int(len(lags) * 0.99))]
    return (f"lag median {statistics.median(lags) * 1000:.0f} ms, p99 {p99 * 1000:.0f} ms, "
            f"{len(lags)} verified, {others} changed or unverified")


def run(exe, name, read_back, lines, paced=0.0):
    work = tempfile.mkdtemp(prefix=f"readback-{name}-")
    script, window, doc, saved, end = target(name, work)
    serial = SerialLine()
    env = {} if read_back else {"PARVELO_READ_BACK": "off"}
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": work}}, serial,
                  env=env)
    try:
        app.software_execution()
        wid = find_window(window, timeout=90)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 20, "the run")
        # A first reading, so that a new window's settling is not counted.
        serial.send(b"S ready\r\n")
        wait_for(lambda: any(r[3] == "typed" for r in app.journal()), 60, "the first reading")
        time.sleep(1)
        sent = [f"S{k:05d} +{k % 997:04d}.5 g" for k in range(lines)]
        started = time.monotonic()
        if paced:  # as an instrument sends: the lag is the reader's own
            for s in sent:
                serial.send(s.encode() + b"\r\n")
                time.sleep(paced)
        else:
            serial.send("".join(s + "\r\n" for s in sent).encode())
        wait_for(lambda: sum(r[3] == "typed" for r in app.journal()) == lines + 1, 600,
                 "every reading typed")
        before = os.path.getmtime(doc)
        sh("xdotool", "windowactivate", "--sync", wid, check=False)
        key("ctrl+s")
        wait_for(lambda: os.path.getmtime(doc) != before, 600, "the save")
        seconds = time.monotonic() - started
        time.sleep(1)
        journal = app.journal()
        key("ctrl+q")
        time.sleep(2)
        got = saved()[1:]
        wrong = sum(g != s for g, s in zip(got, sent)) + abs(len(got) - len(sent))
        typed_at = {r[2]: stamp(r[0]) for r in journal if r[3] == "typed"}
        lags = sorted(stamp(r[0]) - typed_at[r[2]] for r in journal
                      if r[3] == "verified" and r[2] in typed_at)
        others = sum(r[3] in ("changed", "unverified") for r in journal)
        chars = sum(len(s) + 1 for s in sent)
        return chars / seconds, wrong, lags, others
    finally:
        app.close()
        end()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("exe")
    ap.add_argument("--lines", type=int, default=300)
    ap.add_argument("--pairs", type=int, default=2)
    ap.add_argument("--paced-lines", type=int, default=40)
    ap.add_argument("--targets", default="calc,mousepad")
    a = ap.parse_args()
    for name in a.targets.split(","):
        rates = {True: [], False: []}
        for pair in range(a.pairs):
            for read_back in ((True, False) if pair % 2 == 0 else (False, True)):
                rate, wrong, lags, others = run(a.exe, name, read_back, a.lines)
                rates[read_back].append(rate)
                lag = lag_text(lags, others) if read_back else ""
                print(f"{name} read-back {'on ' if read_back else 'off'}: {rate:7.0f} chars/s, "
                      f"{wrong} lines wrong {lag}", flush=True)
        on, off = statistics.mean(rates[True]), statistics.mean(rates[False])
        print(f"{name}: on {on:.0f} chars/s, off {off:.0f} chars/s, ratio {on / off:.2f} "
              "(goal at least 0.95)", flush=True)
        _, wrong, lags, others = run(a.exe, name, True, a.paced_lines, paced=0.25)
        print(f"{name} read-back on, 4 readings a second: {wrong} lines wrong, "
              f"{lag_text(lags, others)}", flush=True)


if __name__ == "__main__":
    main()
