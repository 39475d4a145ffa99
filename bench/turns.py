#!/usr/bin/env python3
"""What taking turns costs: one, two and three Parvelos, each with its own
serial line, profile and target xterm, each instrument sending the same
number of readings at once. Prints the readings a second each Parvelo
typed, and how many arrived wrong (compared with what was sent).

usage: tests/e2e/xsession.sh python3 bench/turns.py build/parvelo [--lines N]"""

import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from parvelo_session import CatTarget, SerialLine, start_reading, wait_for  # noqa: E402


def run(exe, count, lines, workdir):
    config = tempfile.mkdtemp(prefix="parvelo-turns-")
    instances = []
    try:
        for n in range(count):
            serial = SerialLine()
            target = CatTarget(workdir, name=f"turn{n}", geometry=f"+{n * 300}+0")
            app = start_reading(exe, workdir, serial, target, profile=f"i{n}", config=config)
            instances.append((serial, target, app))
        # One reading each first: a target takes keys once its new window has
        # settled, which is not the turns' cost.
        for n, (serial, target, _) in enumerate(instances):
            serial.send(f"i{n} ready\r\n".encode())
        for n, (_, target, _) in enumerate(instances):
            wait_for(lambda: target.data() == f"i{n} ready\n".encode(), 30, f"target {n} ready")
        sent = {}
        for n, (serial, _, _) in enumerate(instances):
            sent[n] = [f"i{n} ready"] + [f"i{n} {k:05d} +{k % 997:04d}.5 g" for k in range(lines)]
        started = time.monotonic()
        for n, (serial, _, _) in enumerate(instances):
            serial.send("".join(s + "\r\n" for s in sent[n][1:]).encode())
        want = {n: "".join(s + "\n" for s in sent[n]).encode() for n in sent}
        done = {}
        while len(done) < count and time.monotonic() - started < 300:
            for n, (_, target, _) in enumerate(instances):
                if n not in done and len(target.data()) >= len(want[n]):
                    done[n] = time.monotonic() - started
            time.sleep(0.02)
        rates = [lines / done[n] if n in done else 0.0 for n in range(count)]
        wrong = 0
        for n, (_, target, _) in enumerate(instances):
            got = target.data().decode(errors="replace").split("\n")
            wrong += sum(g != s for g, s in zip(got, sent[n])) + abs(len(got) - 2 - lines)
        rates.append(count * lines / max(done.values(), default=float("inf")))
        return rates, wrong
    finally:
        for _, target, app in instances:
            app.close()
            target.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("parvelo")
    ap.add_argument("--lines", type=int, default=300)
    ap.add_argument("--counts", default="1,2,3", help="how many Parvelos side by side, each run")
    args = ap.parse_args()
    workdir = tempfile.mkdtemp(prefix="parvelo-turns-work-")
    print(f"{args.lines} readings per instrument, all sent at once")
    for count in [int(c) for c in args.counts.split(",")]:
        rates, wrong = run(args.parvelo, count, args.lines, workdir)
        print(f"{count} Parvelo(s): readings/s each " + ", ".join(f"{r:.0f}" for r in rates[:-1]) +
              f"; all together {rates[-1]:.0f}; wrong lines {wrong}")


if __name__ == "__main__":
    main()
