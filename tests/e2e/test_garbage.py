#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: noise on the
serial line and a click on Stop while slow text is typed.

1. garbage: 10 s of random bytes at 115200 bit/s (lines of random length,
   as a wrong speed or data-bit setting gives them), read as Latin-1, then a
   reading. Nothing of the noise reaches the target, the log says once what
   to check, every noise line is journalled as received and not typed, and
   the reading arrives exactly. A click on Stop then ends the run.
2. wrong speed: 45 s of raw random bytes (CR and LF among them, so short
   lines of noise pass as readings and are typed through many borrowed
   keys), written as a device at a wrong speed delivers them: no crash, no
   control byte reaches the target, a real click on Stop stops the run
   within 2 s, and after Read Start a reading arrives exactly.
3. stop: long lines of accented, Greek and Japanese characters, each needing
   dozens of borrowed keys; a real click on Stop (an X button press and
   release) in the middle stops the run within 0.5 s, and nothing is typed
   after it.

usage: test_garbage.py PARVELO_EXE [CASE...]"""

import os
import random
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
import x11state  # noqa: E402
from parvelo_session import (  # noqa: E402
    CatTarget, Parvelo, SerialLine, check, run_cases, sh, twips, wait_for, window_size)

GARBLED = "The data looks garbled: check the speed, data bits and parity of the instrument."
BYTES_PER_S = 115200 // 10
STOP_WITHIN = 0.5


def start_run(exe, workdir, data):
    serial = SerialLine()
    target = CatTarget(workdir)
    app = Parvelo(exe, {"Settings": {"ExeFileName": target.script, "OpenPathName": workdir},
                        "Data": data}, serial)
    try:
        app.software_execution()
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        wait_for(lambda: serial.slave_path in app.open_fds(), 10, "port to open")
        time.sleep(0.3)
    except Exception:
        app.close()
        target.stop()
        raise
    return app, serial, target


def noise_lines(seconds, seed):
    """Random bytes without CR and LF in lines of 32 to 200 bytes, CR LF
    ended, about seconds long at 115200 bit/s."""
    rng = random.Random(seed)
    pool = bytes(b for b in range(256) if b not in (10, 13))
    lines, size = [], 0
    while size < seconds * BYTES_PER_S:
        line = bytes(rng.choice(pool) for _ in range(rng.randint(32, 200)))
        lines.append(line)
        size += len(line) + 2
    return lines


def send_paced(serial, data):
    """Sends data at 115200 bit/s, in 10 ms portions."""
    step = BYTES_PER_S // 100
    started = time.monotonic()
    for i in range(0, len(data), step):
        serial.send(data[i:i + step])
        delay = started + (i + step) / BYTES_PER_S - time.monotonic()
        if delay > 0:
            time.sleep(delay)


def press_stop(app, hold):
    """Presses the mouse button on Stop and releases it hold seconds later,
    as a hand does (X button events, through the window manager)."""
    size = window_size(app.window)
    menu_bar = size[1] - twips(3495 - 315) - twips(315)
    x, y = twips(4920 + 1695 // 2), menu_bar + twips(1560) + twips(615) // 2
    sh("xdotool", "mousemove", "--window", app.window, str(x), str(y), "mousedown", "1")
    time.sleep(hold)
    sh("xdotool", "mouseup", "1")


def click_stop_timed(app, target):
    """A real click on Stop, held 0.15 s; returns seconds until the caption
    says so and until the target's file stopped growing."""
    clicked = time.monotonic()
    press_stop(app, 0.15)
    wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop to take effect")
    caption = time.monotonic() - clicked
    # The target's file once nothing more arrives.
    size, still_since = len(target.data()), time.monotonic()
    while time.monotonic() - still_since < 1.0:
        time.sleep(0.02)
        now = len(target.data())
        if now != size:
            size, still_since = now, time.monotonic()
    return caption, still_since - clicked


def log_lines(app, workdir):
    return app.save_log(os.path.join(workdir, "log.txt")).decode("utf-8").split("\r\n")


def case_garbage(exe, workdir):
    app, serial, target = start_run(exe, workdir, {"Encoding": "Latin-1"})
    try:
        noise = noise_lines(10, seed=21)
        started = time.monotonic()
        send_paced(serial, b"".join(line + b"\r\n" for line in noise))
        sending = time.monotonic() - started
        serial.send("+0012.5 g °C\r\n".encode("latin-1"))
        got = target.wait_data(b"+0012.5 g \xc2\xb0C\n", 20)
        check(got == "+0012.5 g °C\n".encode(), f"target got {len(got)} bytes: {got[:80]!r}")
        caption, quiet = click_stop_timed(app, target)
        check(caption < STOP_WITHIN, f"Stop took {caption:.2f} s")
        journal = app.journal()
        received = [r[4] for r in journal if r[3] == "received"]
        check(received == noise + [b"+0012.5 g \xb0C"], "journal's received lines differ from "
              f"those sent ({len(received)} of {len(noise) + 1})")
        not_typed = [r for r in journal if r[3] == "not typed"]
        check(len(not_typed) == len(noise) and all(b"garbled" in r[4] for r in not_typed),
              f"{len(not_typed)} not-typed records for {len(noise)} noise lines")
        lines = log_lines(app, workdir)
        check(lines.count(GARBLED) == 1, f"the message is in the log {lines.count(GARBLED)} times")
        marked = sum(line.startswith("[not typed] ") for line in lines)
        check(marked == len(noise), f"{marked} log lines marked not typed")
        return (f"{len(noise)} noise lines ({sum(map(len, noise))} bytes in {sending:.1f} s) "
                f"not typed, message once, the reading exact; Stop in {caption:.2f} s")
    finally:
        app.close()
        target.stop()


def case_wrong_speed(exe, workdir):
    app, serial, target = start_run(exe, workdir, {})
    try:
        rng = random.Random(7)
        started = time.monotonic()
        answers = []
        for i in range(450):  # 1,152 bytes every 0.1 s
            serial.send(bytes(rng.getrandbits(8) for _ in range(1152)))
            if i % 20 == 10:  # the window answers throughout
                answers.append(x11state.ping(app.window, 5.0))
                check(answers[-1] is not None and answers[-1] < 1.0,
                      f"the window took {answers[-1]} s to answer after {i / 10:.0f} s of noise")
            delay = started + (i + 1) * 0.1 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            check(app.proc.poll() is None, f"Parvelo ended ({app.proc.returncode}) after "
                  f"{time.monotonic() - started:.0f} s of noise")
        caption, quiet = click_stop_timed(app, target)
        check(caption < 2.0, f"Stop took {caption:.2f} s")
        app.click_read_start()
        serial.send("\r\n+0012.5 g °C\r\n".encode())
        tail = "+0012.5 g °C\n".encode()
        wait_for(lambda: target.data().endswith(tail), 240, "the reading after the noise")
        check(app.proc.poll() is None, f"Parvelo ended ({app.proc.returncode})")
        data = target.data().decode("utf-8", errors="replace")
        controls = sorted({hex(ord(c)) for c in data
                           if (ord(c) < 0x20 and c not in "\t\n") or 0x7f <= ord(c) <= 0x9f})
        check(not controls, f"control characters reached the target: {controls}")
        typed = data.count("\n")
        return (f"45 s of noise, {typed} lines of it typed, no control character; the window "
                f"answered within {max(answers):.2f} s; Stop in {caption:.2f} s; the reading "
                "after it exact")
    finally:
        app.close()
        target.stop()


# Characters no US keymap has: each needs a borrowed key.
HEAVY = ("àáâãäåæçèéêëìíîïñòóôõöøùúûüýÿ°µ±§¶©®¼½¾¿¡ÀÁÂÃÄÅÆÇÈÉ"
         "αβγδεζηθλμπστφψωΩΣΔ日本語温度計測定値重量長さ時間")


def case_stop(exe, workdir):
    app, serial, target = start_run(exe, workdir, {})
    try:
        rng = random.Random(5)
        lines = ["".join(rng.choice(HEAVY) for _ in range(60)) for _ in range(40)]
        serial.send("".join(line + "\r\n" for line in lines).encode())
        wait_for(lambda: len(target.data()) > 300, 60, "typing to begin")
        time.sleep(1.0)
        before = target.data()
        caption, quiet = click_stop_timed(app, target)
        typed = target.data().decode("utf-8", errors="replace")
        print(f"[stop] {len(before)} bytes typed before the click; caption after {caption:.2f} s,"
              f" the target quiet {quiet:.2f} s after the click; {typed.count(chr(10))} lines")
        check(caption < STOP_WITHIN, f"caption said Stop only {caption:.2f} s after the click")
        check(quiet < STOP_WITHIN, f"keys still arrived {quiet:.2f} s after the click")
        check(typed.count("\n") < len(lines), "the run was not stopped before the end")
        done = typed.split("\n")
        check(done[:-1] == lines[:len(done) - 1],
              f"typed lines differ from those sent: {done[:2]!r}")
        return f"Stop in {caption:.2f} s, keys ended {quiet:.2f} s after the click"
    finally:
        app.close()
        target.stop()


def main():
    exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="parvelo-garbage-")
    sh("setxkbmap", "us")
    cases = [
        ("garbage", lambda: case_garbage(exe, workdir)),
        ("wrong_speed", lambda: case_wrong_speed(exe, workdir)),
        ("stop", lambda: case_stop(exe, workdir)),
    ]
    return run_cases(cases, sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
