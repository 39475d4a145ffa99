#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: the serial
adapter is pulled out in the middle of a run and plugged in again.

While it is out the run waits (the title still says Reading, the status bar
says what it waits for) and costs no CPU; an adapter with another serial
name at the same node is not opened; when the same adapter is back, the
readings the instrument sends arrive exactly, without a click; the log and
the journal show the gap. Prints the gap a user sees from plugging in to the
first reading typed.

usage: test_reconnect.py PARVELO_EXE"""

import os
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import PluggableLine, check, run_cases, sh, wait_for  # noqa: E402
from test_run_faults import split_log, start_run  # noqa: E402

ADAPTER = "usb-Parvelo_Test_Adapter_A1B2C3-if00-port0"
OTHER = "usb-Other_Maker_Adapter_Z9Y8X7-if00-port0"
AWAY_S = 5.0
# Idle means a few timer ticks: an idle Qt program with a one-second timer
# costs milliseconds; a busy loop would cost whole seconds.
IDLE_CPU_LIMIT = 0.05


def screenshot(workdir, name):
    path = os.path.join(workdir, f"{name}.png")
    sh("import", "-window", "root", path, check=False)
    print(f"    screenshot {path}")


class Instrument(threading.Thread):
    """Sends a numbered reading every period seconds from its start, as an
    instrument that keeps sending does; remembers when it sent each."""

    def __init__(self, line, period=0.1):
        super().__init__(daemon=True)
        self.line = line
        self.period = period
        self.sent = []  # (monotonic time, text)
        self.halt = threading.Event()

    def run(self):
        n = 0
        next_at = time.monotonic()
        while not self.halt.is_set():
            text = f"R{n:04d} +{(n * 3.7) % 500:07.2f} g"
            os.write(self.line.master, text.encode() + b"\r\n")
            self.sent.append((time.monotonic(), text))
            n += 1
            next_at += self.period
            self.halt.wait(max(0.0, next_at - time.monotonic()))

    def stop(self):
        self.halt.set()
        self.join(5)


def case_unplugged_and_back(exe, workdir):
    folder = tempfile.mkdtemp(prefix="adapter-", dir=workdir)
    line = PluggableLine(folder, ADAPTER)
    app, line, target = start_run(exe, workdir, serial=line)
    instrument = None
    try:
        line.send(b"before\r\n")
        check(target.wait_data(b"before\n") == b"before\n", "the first reading was not typed")
        old_node = line.node
        line.unplug()
        gone_at = time.monotonic()
        wait_for(lambda: old_node not in app.open_fds(), 5, "the port to close")
        time.sleep(0.5)
        check(app.title() == "Parvelo[Reading]", f"title {app.title()!r} while waiting")
        screenshot(workdir, "waiting-for-adapter")
        before = app.cpu_seconds()
        time.sleep(2.0)
        cpu = app.cpu_seconds() - before
        print(f"[unplugged] CPU {cpu:.3f} s in 2 s of waiting")
        check(cpu < IDLE_CPU_LIMIT, f"busy while waiting: {cpu:.3f} s CPU in 2 s")

        # Another adapter at the same node is left alone.
        line.plug(OTHER)
        time.sleep(1.0)
        check(line.node not in app.open_fds(), "an adapter with another serial name was opened")
        check(app.title() == "Parvelo[Reading]", f"title {app.title()!r} after the stranger")
        line.unplug()

        time.sleep(max(0.0, AWAY_S - (time.monotonic() - gone_at)))
        line.plug(ADAPTER)
        plugged_at = time.monotonic()
        instrument = Instrument(line)
        instrument.start()
        opened_at = wait_for(lambda: line.node in app.open_fds() and time.monotonic(), 10,
                             "the port to open again")
        first_at = wait_for(lambda: len(target.data()) > len(b"before\n") and time.monotonic(),
                            10, "the first reading after the return")
        time.sleep(1.5)
        instrument.stop()
        sent = instrument.sent
        expected_after = [t for at, t in sent if at > opened_at]
        got = target.wait_data(b"")  # settles
        lines = got.decode().split("\n")
        check(lines[0] == "before" and lines[-1] == "", f"target holds {got!r}")
        typed = lines[1:-1]
        texts = [t for _, t in sent]
        check(typed and typed == texts[texts.index(typed[0]):],
              f"typed {typed!r} is not the readings sent from one on: {texts!r}")
        check(typed[-len(expected_after):] == expected_after,
              f"readings sent after the port opened are missing: {expected_after!r}")
        lost = len(texts) - len(typed)
        gap = first_at - plugged_at
        print(f"[back] port open {opened_at - plugged_at:.3f} s after plugging in; first "
              f"reading typed {gap:.3f} s after; {len(typed)} of {len(texts)} readings typed "
              f"({lost} sent before the port was open)")
        check(app.title() == "Parvelo[Reading]", f"title {app.title()!r} after the return")

        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 5, "Stop")
        log = split_log(app.save_log(os.path.join(workdir, "log-reconnect.txt")))
        print("[log] " + "\n[log] ".join(log))
        gone = [x for x in log if "was disconnected. Waiting for it to come back since" in x]
        other = [x for x in log if f"is now another device ({OTHER})" in x]
        back = [x for x in log if x.startswith(f"{line.slave_path} is back at ")]
        check(len(gone) == 1 and len(other) == 1 and len(back) == 1,
              f"log lacks the gap: gone {gone!r}, other {other!r}, back {back!r}")
        check(log.index(gone[0]) < log.index(other[0]) < log.index(back[0]) <
              log.index(typed[0]), "log lines out of order")
        events = [(e, text.decode()) for _, _, _, e, text in app.journal()
                  if e.startswith("device ")]
        print(f"[journal] {events!r}")
        check([e for e, _ in events] == ["device gone", "device other", "device back"],
              f"journal: {events!r}")
        check(events[2][1].startswith("away from "), f"journal gap {events[2][1]!r}")
        return (f"waited {AWAY_S:.0f} s at {cpu:.3f} s CPU / 2 s, stranger not opened, "
                f"{len(typed)} readings exact after the return; gap from plugging in to "
                f"the first reading typed {gap:.3f} s")
    finally:
        if instrument:
            instrument.stop()
        app.close()
        target.stop()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-reconnect-")
    sh("setxkbmap", "us")
    cases = [("unplugged and back", lambda: case_unplugged_and_back(exe, workdir))]
    return run_cases(cases, sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
