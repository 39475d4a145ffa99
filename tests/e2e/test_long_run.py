#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: a long run at
the full speed of a fast serial line. The virtual instrument sends
1,000,000 characters of lines (CR LF included) at 115200 bit/s, 8N1, which
is 11,520 characters a second, into Parvelo; Software Execution has started
an xterm that runs `cat > file`. Every line must arrive in that file exactly
and in order, and in the log (saved at the end with File > Log Save).
Parvelo's resident memory is sampled during the run: it must stay under
RSS_BOUND_KB, and must not grow by more than RSS_GROWTH_KB over the second
half of the run (the log box keeps only the newest lines; older ones go to a
spool file).

usage: test_long_run.py PARVELO_EXE VINSTRUMENT_EXE [CHARACTERS]"""

import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import CatTarget, Parvelo, sh, wait_for  # noqa: E402

BAUD = 115200
CHARS = 1_000_000
RSS_BOUND_KB = 80 * 1024
RSS_GROWTH_KB = 10 * 1024
# The run must end well inside CTest's timeout even on a slow machine.
TYPING_TIMEOUT = 240


class Slave:
    def __init__(self, path):
        self.slave_path = path


def make_lines(total_chars, seed=7):
    """Instrument-like lines whose characters, CR LF included, add up to
    exactly total_chars."""
    rng = random.Random(seed)
    units = ["g", "kg", "mg", "µg", "%RH", "mm", "N", "pcs"]
    lines = []
    used = 0
    n = 0
    while True:
        kind = n % 5
        if kind == 0:
            line = f"ST,GS,{rng.uniform(-999, 9999):+010.3f} {rng.choice(units)}"
        elif kind == 1:
            line = f"{n:06d} {rng.uniform(0, 100):07.3f}"
        elif kind == 2:
            line = f"US,NT,{rng.uniform(-50, 50):+08.2f} {rng.choice(units)}"
        elif kind == 3:
            # Characters the US keymap lacks go through borrowed keys.
            line = f"T{rng.randint(1, 8)}={rng.uniform(-20, 200):.1f}°C H={rng.randint(0, 99)}%"
        else:
            line = f"{rng.randint(0, 99999)}"
        if used + len(line) + 2 > total_chars:
            break
        lines.append(line)
        used += len(line) + 2
        n += 1
    rest = total_chars - used - 2
    if rest >= 0:
        lines.append("".join(str(i % 10) for i in range(rest)))
    return lines


def same_lines(what, got, expected, lines, separator):
    """True when got is expected; else prints the first line that differs."""
    if got == expected:
        print(f"{what}: all {len(lines)} lines exact and in order")
        return True
    got_lines = got.decode("utf-8", errors="replace").split(separator)
    for k, line in enumerate(lines):
        if k >= len(got_lines) or got_lines[k] != line:
            have = got_lines[k] if k < len(got_lines) else None
            print(f"{what} line {k}: expected {line!r}, got {have!r}")
            break
    print(f"{what}: {len(got)} bytes, expected {len(expected)}")
    return False


def main():
    exe, vinstrument = sys.argv[1], sys.argv[2]
    chars = int(sys.argv[3]) if len(sys.argv) > 3 else CHARS
    workdir = tempfile.mkdtemp(prefix="parvelo-long-")
    lines = make_lines(chars)
    sent_chars = sum(len(line) + 2 for line in lines)
    with open(os.path.join(workdir, "lines.txt"), "w") as f:
        f.write("".join(line + "\n" for line in lines))
    expected = "".join(line + "\n" for line in lines).encode()
    print(f"{len(lines)} lines, {sent_chars} characters with CR LF, "
          f"at {BAUD} bit/s = {BAUD // 10} characters/s "
          f"(ideal {sent_chars / (BAUD / 10):.1f} s)")

    sh("setxkbmap", "us")
    instrument = subprocess.Popen(
        [vinstrument, "--kind", "text", "--file", os.path.join(workdir, "lines.txt"),
         "--ending", "crlf", "--baud", str(BAUD), "--wait-open", "--hold"],
        stdout=subprocess.PIPE, text=True)
    slave = instrument.stdout.readline().strip()
    target = CatTarget(workdir)
    app = Parvelo(exe, {"Settings": {"ExeFileName": target.script, "OpenPathName": workdir}},
                  Slave(slave))
    ok = True
    try:
        app.software_execution()
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        rss_start = app.rss_kb()
        cpu_start = app.cpu_seconds()
        print(f"reading; RSS at the start of the run {rss_start} kB")

        samples = []
        first_at = last_at = None
        size = 0
        deadline = time.monotonic() + TYPING_TIMEOUT
        while time.monotonic() < deadline:
            now = time.monotonic()
            size = os.path.getsize(target.out)
            if size and first_at is None:
                first_at = now
            samples.append((now, size, app.rss_kb()))
            if size >= len(expected):
                last_at = now
                break
            if app.title() != "Parvelo[Reading]":
                print(f"the run ended early: {app.title()!r}")
                break
            time.sleep(0.5)
        cpu_run = app.cpu_seconds() - cpu_start
        typed = target.data()
        if last_at is None:
            print(f"after {TYPING_TIMEOUT} s only {size} of {len(expected)} bytes arrived")
            ok = False
        elif first_at is not None:
            took = max(last_at - first_at, 0.001)
            print(f"typed {sent_chars} characters in {took:.1f} s: "
                  f"{sent_chars / took:.0f} characters/s (line rate {BAUD // 10}); "
                  f"Parvelo used {cpu_run:.1f} s of CPU")

        ok = same_lines("target", typed, expected, lines, "\n") and ok

        # The pace through the run: does typing slow down as the log grows?
        marks = []
        for fraction in (0.25, 0.5, 0.75, 1.0):
            hit = next((s for s in samples if s[1] >= len(expected) * fraction), None)
            marks.append(hit)
        previous = (first_at, 0) if first_at is not None else None
        for fraction, hit in zip((0.25, 0.5, 0.75, 1.0), marks):
            if hit and previous and hit[0] > previous[0]:
                pace = (hit[1] - previous[1]) / (hit[0] - previous[0])
                print(f"  up to {fraction:.0%}: {pace:.0f} bytes/s, RSS {hit[2]} kB")
                previous = (hit[0], hit[1])

        rss_max = max(s[2] for s in samples)
        half = next((s for s in samples if s[1] >= len(expected) / 2), samples[-1])
        growth = rss_max - half[2]
        print(f"RSS: start {rss_start} kB, half-way {half[2]} kB, max {rss_max} kB, "
              f"end {samples[-1][2]} kB; growth over the second half {growth} kB; "
              f"bounds {RSS_BOUND_KB} kB and {RSS_GROWTH_KB} kB of growth")
        if rss_max > RSS_BOUND_KB or growth > RSS_GROWTH_KB:
            print("RSS grew beyond the bound")
            ok = False

        # Stop, then the log: the typed lines, each with CR LF.
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        saved_at = time.monotonic()
        log = app.save_log(os.path.join(workdir, "log.txt"))
        print(f"log saved: {len(log)} bytes in {time.monotonic() - saved_at:.1f} s")
        # Lines that came before the target's window showed were held first;
        # what counts is that each is then logged as typed, once, in order.
        notes = (b"[held] ", b"Readings are held: ", b"The target takes keys again: ")
        every = log.split(b"\r\n")
        kept = [x for x in every if not x.startswith(notes)]
        print(f"log: {len(every) - len(kept)} lines about held readings")
        log = b"\r\n".join(kept)
        want_log = "".join(line + "\r\n" for line in lines).encode() + b"\r\n"
        ok = same_lines("log", log, want_log, lines, "\r\n") and ok
    finally:
        instrument.send_signal(signal.SIGTERM)
        try:
            instrument.wait(5)
        except subprocess.TimeoutExpired:
            instrument.kill()
        app.close()
        target.stop()
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
