#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: how a reading
run behaves when things go wrong around it.

1. The serial device hangs up in the middle of a line (and never comes back).
2. The target window is closed by the window manager while another window
   has the focus, and then a line arrives.
3. The keyboard layout changes between lines while the run goes on.
4. The program is ended while lines arrive at a steady rate: by SIGTERM, by
   the window manager closing the main window, and by File > Exit.

Every case prints what it saw; the script exits non-zero on any failure.

usage: test_run_faults.py PARVELO_EXE"""

import os
import signal
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (  # noqa: E402
    CatTarget, SerialLine, check, close_window, holders_of, pid_alive, run_cases, sh,
    start_reading, wait_for)

ERROR_LINE = "The reception error occurred."
# Two seconds of a busy loop cost about two seconds of CPU; an idle Qt
# program with a one-second timer costs a few milliseconds.
IDLE_WINDOW = 2.0
IDLE_CPU_LIMIT = 0.05


def start_run(exe, workdir, extra_settings=None, serial=None):
    """Parvelo with a pty (or the line given) as Com1; Software Execution
    launches a CatTarget and the run starts. Returns (app, serial, target)."""
    serial = serial or SerialLine()
    target = CatTarget(workdir)
    app = start_reading(exe, workdir, serial, target, extra_settings)
    try:
        device = getattr(serial, "node", serial.slave_path)
        wait_for(lambda: device in app.open_fds(), 10, "port to open")
        # A new window takes keys once it has settled (1.5 s, followed once
        # a second): the cases here are about what comes after.
        time.sleep(3.0)
    except Exception:
        app.close()
        target.stop()
        raise
    return app, serial, target


def idle_cpu(app):
    before = app.cpu_seconds()
    time.sleep(IDLE_WINDOW)
    return app.cpu_seconds() - before


def lock_file(serial):
    return "/run/lock/LCK.." + serial.slave_path[len("/dev/"):].replace("/", "_")


def split_log(data: bytes):
    """The saved log as lines; it is the log text followed by CR LF."""
    text = data.decode("utf-8")
    check(text.endswith("\r\n"), f"saved log does not end with CR LF: {text[-20:]!r}")
    text = text[:-2]
    # Every line the run inserts ends with CR LF, so the log text does too.
    check(text.endswith("\r\n"), f"log text does not end with CR LF: {text[-20:]!r}")
    return text[:-2].split("\r\n")


def check_halted_by_error(app, serial, workdir, label, expect_before, message_hint,
                          not_typed=()):
    """After a fault: port closed, the window shows a stopped run, CPU idle,
    log = lines typed before + the error lines + the readings not typed.
    Returns the CPU seconds measured."""
    wait_for(lambda: serial.slave_path not in app.open_fds(), 10, "port to close")
    # The port's lock file goes right after the port itself.
    wait_for(lambda: not os.path.exists(lock_file(serial)), 2, f"{lock_file(serial)} to go")
    time.sleep(0.5)
    cpu = idle_cpu(app)
    title = app.title()
    print(f"[{label}] port closed; title {title!r}; CPU {cpu:.3f} s in {IDLE_WINDOW:.0f} s "
          "after the fault")
    check(cpu < IDLE_CPU_LIMIT, f"busy after the fault: {cpu:.3f} s CPU in {IDLE_WINDOW} s")
    # Nothing is read any more, and the window says so.
    check(title == "Parvelo[Stop]", f"caption {title!r} after the error")
    lines = split_log(app.save_log(os.path.join(workdir, f"log-{label}.txt")))
    print(f"[{label}] log: {lines!r}")
    check(lines[:len(expect_before)] == expect_before,
          f"log before the error lines: {lines[:len(expect_before)]!r}")
    listed = [f"[not typed] {x}" for x in not_typed]
    rest = lines[len(expect_before):]
    count = f"{len(not_typed)} readings were received but not typed."
    check(rest[:len(listed)] == listed and rest[len(listed)::2] == [ERROR_LINE, count]
          and len(rest) == len(listed) + 3,
          f"expected the readings not typed and the error lines, got {rest!r}")
    check(message_hint(rest[-2]), f"unexpected error message {rest[-2]!r}")
    return cpu


def case_hang_up(exe, workdir):
    """The device goes away after "12.3" with no CR: the run waits for it,
    idle, and Stop ends the wait."""
    app, serial, target = start_run(exe, workdir)
    try:
        serial.send(b"first\r\n")
        got = target.wait_data(b"first\n")
        check(got == b"first\n", f"target got {got!r} before the fault")
        serial.send(b"12.3")
        time.sleep(0.3)
        # The pty's device node goes with its master, as an unplugged adapter's does.
        serial.hang_up()
        wait_for(lambda: serial.slave_path not in app.open_fds(), 10, "port to close")
        wait_for(lambda: not os.path.exists(lock_file(serial)), 2, f"{lock_file(serial)} to go")
        # The next pty made usually gets the freed number: another program's,
        # so never opened, and nothing read from it typed.
        master, slave = os.openpty()
        reused = os.ttyname(slave) == serial.slave_path
        os.write(master, b"9.9\r\n")
        time.sleep(0.5)
        cpu = idle_cpu(app)
        title = app.title()
        print(f"[hang-up] port closed; title {title!r}; CPU {cpu:.3f} s in {IDLE_WINDOW:.0f} s "
              "of waiting")
        check(cpu < IDLE_CPU_LIMIT, f"busy while waiting: {cpu:.3f} s CPU in {IDLE_WINDOW} s")
        check(title == "Parvelo[Reading]", f"caption {title!r} while waiting for the device")
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 5, "Stop to end the wait")
        lines = split_log(app.save_log(os.path.join(workdir, "log-hang-up.txt")))
        print(f"[hang-up] log: {lines!r}")
        waiting = (f"The device {serial.slave_path} was disconnected. Waiting for it to come "
                   "back since ")
        other = f"{serial.slave_path} is now another device, not the one that went away"
        check(len(lines) == 3 + reused and lines[:2] == ["first", "[not typed] 12.3"]
              and lines[2].startswith(waiting) and lines[2].endswith("; Stop ends the wait.")
              and all(line.startswith(other) for line in lines[3:]), f"log {lines!r}")
        check(serial.slave_path not in app.open_fds(), "the new pty was opened")
        os.close(master)
        os.close(slave)
        got = target.data()
        check(got == b"first\n", f"target got {got!r}: the partial line must not be typed")
        return f"hang-up mid-line: waits, port closed, CPU {cpu:.3f} s / {IDLE_WINDOW:.0f} s"
    finally:
        app.close()
        target.stop()


def case_target_closed(exe, workdir):
    """The window manager closes the target while a second xterm has the
    focus; the next line must go nowhere."""
    app, serial, target = start_run(exe, workdir)
    second = CatTarget(workdir, "second", "+0+700")
    try:
        serial.send(b"before close\r\n")
        got = target.wait_data(b"before close\n")
        check(got == b"before close\n", f"target got {got!r}")
        second.start()
        sh("xdotool", "windowactivate", "--sync", second.window, check=False)
        target_pid = target.pid()
        close_window(target.window)
        wait_for(lambda: not pid_alive(target_pid), 10, "target xterm to end")
        sh("xdotool", "windowactivate", "--sync", second.window, check=False)
        time.sleep(0.3)
        active = sh("xdotool", "getactivewindow", check=False).stdout.strip()
        # Otherwise "the second window got nothing" would prove nothing.
        check(active == second.window, f"the focus is on {active}, not on the second xterm "
              f"({second.window})")
        serial.send(b"must not arrive\r\n")
        cpu = check_halted_by_error(app, serial, workdir, "target-closed", ["before close"],
                                    lambda m: "window" in m.lower(), ["must not arrive"])
        data = second.data()
        print(f"[target closed] second xterm received {data!r}")
        check(data == b"", f"second window received {data!r}")
        return f"target closed by the WM: halted, second window untouched, CPU {cpu:.3f} s"
    finally:
        app.close()
        target.stop()
        second.stop()


LAYOUT_LINES = [
    "+0012.345 g",
    "[ ] { } @ | \\ ~",
    "23.5 °C",
    "5 µm",
    "café é è à ç",
    "z y Z Y",
    "a q A Q w W m M",
    "1234567890 ,;:!?./",
    "^ ` ´ ¨ < >",
    "ß ä ö ü",
]


def case_layout_changes(exe, workdir):
    """setxkbmap between lines; every line must arrive exactly."""
    app, serial, target = start_run(exe, workdir)
    expected = b""
    try:
        sequence = ["us", "de", "fr", "de", "us", "fr", "us"]
        for layout in sequence:
            sh("setxkbmap", layout)
            started = time.monotonic()
            for i, line in enumerate(LAYOUT_LINES):
                text = f"{layout}{i}: {line}"
                serial.send(text.encode() + b"\r\n")
                expected += text.encode() + b"\n"
            got = target.wait_data(expected)
            if got != expected:
                want = expected.decode(errors="replace").splitlines()
                have = got.decode(errors="replace").splitlines()
                for k in range(max(len(want), len(have))):
                    w = want[k] if k < len(want) else None
                    h = have[k] if k < len(have) else None
                    if w != h:
                        print(f"[layouts] line {k}: expected {w!r}, got {h!r}")
                raise Failed(f"typed wrong after switching to {layout}")
            print(f"[layouts] {layout}: {len(LAYOUT_LINES)} lines exact "
                  f"({time.monotonic() - started:.2f} s)")
        check(app.title() == "Parvelo[Reading]", f"run ended: {app.title()!r}")
        time.sleep(0.5)
        check(target.data() == expected, "target changed after the last line")
        n = len(sequence) * len(LAYOUT_LINES)
        return f"layout changes {'→'.join(sequence)}: {n} lines exact"
    finally:
        sh("setxkbmap", "us", check=False)
        app.close()
        target.stop()


class SteadyWriter(threading.Thread):
    """Writes numbered lines to the serial line at a steady rate until told
    to stop; remembers every line it has sent."""

    def __init__(self, serial, rate):
        super().__init__(daemon=True)
        self.serial = serial
        self.period = 1.0 / rate
        self.sent = []
        self.halt = threading.Event()
        os.set_blocking(serial.master, False)

    def run(self):
        n = 0
        next_at = time.monotonic()
        while not self.halt.is_set():
            line = f"L{n:05d} +{(n * 7.31) % 1000:08.3f} g"
            try:
                os.write(self.serial.master, line.encode() + b"\r\n")
                self.sent.append(line)
            except BlockingIOError:
                pass  # nobody reads the port any more and its buffer is full
            n += 1
            next_at += self.period
            self.halt.wait(max(0.0, next_at - time.monotonic()))

    def stop(self):
        self.halt.set()
        self.join(5)


def stable_data(target, quiet=0.3):
    """The target's data once it has not changed for quiet seconds, else None."""
    data = target.data()
    time.sleep(quiet)
    return data if target.data() == data else None


def check_whole_lines(target, sent, label):
    data = target.data()
    check(data == b"" or data.endswith(b"\n"), f"[{label}] half-typed line at the end: "
          f"{data[-40:]!r}")
    lines = data.decode("utf-8", errors="replace").split("\n")[:-1]
    check(lines == sent[:len(lines)], f"[{label}] target lines differ from those sent: "
          f"{lines[:3]!r}... vs {sent[:3]!r}...")
    time.sleep(1.0)
    check(target.data() == data, f"[{label}] target grew after exit")
    return len(lines)


def case_exit(exe, workdir, how):
    """Ends the program while lines arrive; checks exit time, stored settings,
    the port and the target."""
    save_dir = os.path.join(workdir, f"saved-{how}")
    os.makedirs(save_dir, exist_ok=True)
    app, serial, target = start_run(exe, workdir, {"Settings": {"SavePathName": save_dir}})
    # Fast enough that Parvelo is typing much of the time, so the request
    # is likely to come in the middle of a line.
    writer = SteadyWriter(serial, 200)
    try:
        settings_file = app.settings_file
        os.utime(settings_file, (946684800, 946684800))  # 2000-01-01: any write shows
        writer.start()
        wait_for(lambda: target.data().count(b"\n") >= 10, 20, "lines to arrive")
        if how == "SIGTERM":
            started = time.monotonic()
            app.proc.send_signal(signal.SIGTERM)
        elif how == "window close":
            started = time.monotonic()
            close_window(app.window)
        else:
            # File is disabled during a run, so Exit is reached through Stop.
            app.click_stop()
            wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
            # The reading in progress at the click is finished; then nothing.
            at_stop = wait_for(lambda: stable_data(target), 5, "the target to be quiet")
            time.sleep(0.5)  # lines keep coming and must not be typed now
            check(target.data() == at_stop, f"[{how}] typed after Stop: "
                  f"{target.data()[len(at_stop):][:60]!r}")
            app.focus()
            sh("xdotool", "key", "--clearmodifiers", "alt+f")
            time.sleep(0.4)
            started = time.monotonic()
            sh("xdotool", "key", "--clearmodifiers", "x")
        check(app.wait_exit(10) is not None, f"[{how}] still running 10 s later")
        took = time.monotonic() - started  # from the request to the end of the process
        writer.stop()
        print(f"[exit by {how}] process ended {took:.2f} s after the request, "
              f"status {app.proc.returncode}; {len(writer.sent)} lines sent")
        check(took < 5, f"[{how}] took {took:.2f} s to exit")
        check(app.proc.returncode == 0, f"[{how}] exit status {app.proc.returncode}")
        mtime = os.stat(settings_file).st_mtime
        check(mtime > 946684800 + 1, f"[{how}] settings were not written")
        stored = app.stored_settings()
        general = stored.get("Settings", {})
        want = {"OpenPathName": workdir, "SavePathName": save_dir,
                "ExeFileName": target.script, "InsertDate": "0", "InsertTime": "0"}
        print(f"[exit by {how}] stored [Settings]: {general}")
        check(general == want, f"[{how}] stored settings {general!r}, expected {want!r}")
        check(stored.get("Ports", {}).get("Com1") == serial.slave_path,
              f"[{how}] [Ports] lost: {stored.get('Ports')!r}")
        check(not os.path.exists(lock_file(serial)), f"[{how}] lock file left behind")
        check(not holders_of(serial.slave_path), f"[{how}] port still held open by "
              f"{holders_of(serial.slave_path)}")
        n = check_whole_lines(target, writer.sent, how)
        print(f"[exit by {how}] target holds {n} whole lines, the first {n} sent, "
              "unchanged a second later")
        check(n >= 10, f"[{how}] only {n} lines typed")
        return f"exit by {how}: {took:.2f} s, settings written, port closed, {n} whole lines"
    finally:
        writer.stop()
        app.close()
        target.stop()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-faults-")
    sh("setxkbmap", "us")
    cases = [
        ("hang-up", lambda: case_hang_up(exe, workdir)),
        ("target closed", lambda: case_target_closed(exe, workdir)),
        ("layout changes", lambda: case_layout_changes(exe, workdir)),
        ("exit by SIGTERM", lambda: case_exit(exe, workdir, "SIGTERM")),
        ("exit by window close", lambda: case_exit(exe, workdir, "window close")),
        ("exit by File > Exit", lambda: case_exit(exe, workdir, "File > Exit")),
    ]
    return run_cases(cases, sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
