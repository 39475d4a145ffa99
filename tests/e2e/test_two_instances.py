#!/usr/bin/env python3
"""Two instruments, two Parvelos, under the X session of xsession.sh: each
Parvelo runs with a profile of its own (--profile) in one settings folder,
with its own serial line and its own target xterm, and both instruments
stream 8 readings a second for 20 s. Each Parvelo moves the focus to its
own target for every reading, so each must wait while the other's keys are
on their way.

Every reading of each instrument must land whole, in order, in its own
target and nowhere else; each profile keeps its own port; the journal both
wrote into checks intact as one chain.

usage: test_two_instances.py PARVELO_EXE"""

import glob
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (CatTarget, SerialLine, check, run_cases,  # noqa: E402
                             start_reading, wait_for)

PER_SECOND, SECONDS = 8, 20


def stream(serial, prefix, sent):
    start = time.monotonic()
    for i in range(PER_SECOND * SECONDS):
        line = f"{prefix}{i + 1:04d} {prefix}{(i * 37) % 1000 / 10:.1f} g"
        serial.send(line.encode() + b"\r\n")
        sent.append(line)
        time.sleep(max(0.0, start + (i + 1) / PER_SECOND - time.monotonic()))


def case_side_by_side(exe, workdir):
    config = tempfile.mkdtemp(prefix="parvelo-profiles-")
    instances = []
    try:
        for name, prefix, place in (("balance", "a", "+0+0"), ("caliper", "b", "+0+360")):
            serial = SerialLine()
            target = CatTarget(workdir, name=f"target-{prefix}", geometry=place)
            app = start_reading(exe, workdir, serial, target, profile=name, config=config)
            instances.append((prefix, serial, target, app))
        sent = {prefix: [] for prefix, *_ in instances}
        threads = [threading.Thread(target=stream, args=(serial, prefix, sent[prefix]))
                   for prefix, serial, _, _ in instances]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for prefix, _, target, app in instances:
            want = "".join(line + "\n" for line in sent[prefix]).encode()
            got = target.wait_data(want, 30)
            lines = got.decode(errors="replace").split("\n")
            wrong = next((i for i, (g, s) in enumerate(zip(lines, sent[prefix])) if g != s), None)
            if got != want:
                # What Parvelo says became of it, to tell a lost key from a lost reading.
                ids = {r[2] for r in app.journal() if r[4] == sent[prefix][wrong or 0].encode()}
                said = [(r[3], r[4].decode()) for r in app.journal() if r[2] in ids]
                check(False, f"target {prefix}: {len(sent[prefix])} readings sent, "
                      f"{len(lines) - 1} lines arrived; line {wrong}: {lines[wrong]!r} for "
                      f"{sent[prefix][wrong]!r}; journal: {said}")
        for _, _, _, app in instances:  # an orderly end, which saves the settings
            app.proc.terminate()
            app.proc.wait(10)
        ports = {app.profile: app.stored_settings().get("Ports", {}).get("Com1")
                 for _, _, _, app in instances}
        check(ports == {app.profile: serial.slave_path for _, serial, _, app in instances},
              f"each profile keeps its own port: {ports}")
        check(not os.path.exists(os.path.join(config, "Parvelo", "Parvelo.conf")),
              "a profile's Parvelo wrote the settings file of the plain Parvelo")
        # Both appended to the same day's file, each record after the other's.
        days = sorted(glob.glob(os.path.join(config, "Parvelo", "journal", "*.tsv")))
        checked = subprocess.run([exe, "--check-journal", *days], capture_output=True, text=True,
                                 timeout=30)
        check(days and checked.returncode == 0,
              f"the shared journal does not check intact: {checked.stdout}{checked.stderr}")
        return f"{PER_SECOND * SECONDS} readings each into two targets, all whole and in order"
    finally:
        for _, _, target, app in instances:
            app.close()
            target.stop()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-two-")
    return run_cases([("side_by_side", lambda: case_side_by_side(exe, workdir))], sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
