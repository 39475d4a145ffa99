#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh: no reading is
lost, and none goes anywhere but into the target's main window.

1. A target opens a modal dialog of its own: the readings after it are held
   (never typed into the dialog), and arrive in order once it is closed.
2. A click on another window, and a click on Stop, while long lines are
   typed: no key reaches any other window; the rest is typed later.
3. A launched program never shows a window: readings are held while Parvelo
   waits, and counted as not typed when the wait ends.
4. Parvelo killed with SIGKILL in the middle of a burst: the journal holds
   every line that was typed, in order and whole, and keeps any byte exactly.

usage: test_no_reading_lost.py PARVELO_EXE DIALOG_TARGET_EXE [CASE...]"""

import os
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import (  # noqa: E402
    CatTarget, Parvelo, SerialLine, check, end_group, find_window, run_cases, sh, target_script,
    wait_for, window_name)
from test_run_faults import idle_cpu, split_log, start_run  # noqa: E402

HELD = "Readings are held: "


def screenshot(workdir, name):
    path = os.path.join(workdir, f"{name}.png")
    sh("import", "-window", "root", path, check=False)
    print(f"    screenshot {path}")


def events_by_reading(app):
    """Journal events per reading id, in order, with the received text."""
    readings = {}
    for _, _, rid, event, text in app.journal():
        if rid == "-":
            continue  # of the port or the run, not of a reading
        entry = readings.setdefault(rid, {"text": None, "events": []})
        if event == "received":
            entry["text"] = text
        entry["events"].append(event)
    return readings


def case_modal_dialog(exe, target_exe, workdir):
    out = os.path.join(workdir, "dialog-target.txt")
    script = target_script(workdir, "dialog-target.sh",
                           f"echo $$ > {out}.pid\nexec {target_exe} {out} --title dialogtarget\n")
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}}, serial)
    try:
        app.software_execution()
        wait_for(lambda: os.path.exists(out), 20, "the target to start")
        read = lambda: open(out, encoding="utf-8").read()  # noqa: E731
        serial.send(b"r1\r\n")
        wait_for(lambda: read() == "r1\n", 10, "r1 in the target")
        serial.send(b"bad DIALOG\r\n")
        dialog = find_window("^Refused reading$", 10)
        held = ["r2 +12.5 g\tx 23.5 °C", "r3 5 µm 日本", "r4 11"]
        started = time.monotonic()
        for line in held:
            serial.send(line.encode() + b"\r\n")
            time.sleep(0.2)
        time.sleep(0.5)
        cpu = idle_cpu(app)
        print(f"    {cpu:.3f} s of CPU in 2 s of holding")
        check(cpu < 0.1, f"holding costs {cpu:.3f} s of CPU in 2 s")
        screenshot(workdir, "modal-dialog-held")
        check(read() == "r1\nbad DIALOG\n", f"typed while the dialog is up: {read()!r}")
        keys = out + ".dialogkeys"
        check(not os.path.exists(keys) or open(keys, "rb").read() == b"",
              "keys reached the dialog")
        check(window_name(dialog) == "Refused reading", "the dialog went away by itself")
        sh("xdotool", "key", "Escape")
        wait_for(lambda: read().count("\n") == 5, 10, "the held readings to arrive")
        print(f"    held for {time.monotonic() - started:.1f} s, then typed")
        check(read() == "r1\nbad DIALOG\n" + "".join(f"{h}\n" for h in held),
              f"target holds {read()!r}")
        app.click_stop()
        wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        lines = split_log(app.save_log(os.path.join(workdir, "log-dialog.txt")))
        # r1 may come while the new window is still settling: then it is held.
        opening = lines[:lines.index("r1")] if "r1" in lines else lines
        check(opening in ([], [HELD + 'waiting for "dialogtarget" to finish opening.',
                               "[held] r1", "The target takes keys again: typing the 1 held "
                               "readings."]), f"log before r1 {opening!r}")
        lines = lines[len(opening):]
        want = (["r1", "bad DIALOG",
                 HELD + 'the target shows the dialog "Refused reading".']
                + [f"[held] {h}" for h in held]
                + ["The target takes keys again: typing the 3 held readings."] + held)
        check(lines == want, f"log {lines!r}")
        for rid, r in events_by_reading(app).items():
            if r["text"].decode() in held:
                # The target holds them as sent (above), and is read back.
                check(r["events"] == ["received", "held", "typed", "verified"],
                      f"journal {rid}: {r}")
        return "3 readings held behind the dialog, none typed into it, then typed in order"
    finally:
        app.close()
        end_group(out + ".pid")


def long_lines(count, length):
    return [(f"L{i}:" + "0123456789abcdefghij" * (length // 20))[:length] for i in range(count)]


def case_click_elsewhere(exe, workdir, on_stop):
    label = "click on Stop" if on_stop else "click on another window"
    app, serial, target = start_run(exe, workdir)
    other = CatTarget(workdir, "other", "+700+600")
    try:
        other.start()
        lines = long_lines(12, 4000)
        expected = "".join(f"{line}\n" for line in lines).encode()
        app.focus()  # the target is asked for again for the first line
        for line in lines:
            serial.send(line.encode() + b"\r\n")
        wait_for(lambda: len(target.data()) > 1000, 20, "typing to begin")
        if on_stop:
            app.click_stop()
            wait_for(lambda: app.title() == "Parvelo[Stop]", 10, "Stop")
        else:
            sh("xdotool", "mousemove", "--window", other.window, "100", "50", "click", "1")
        at_click = len(target.data())
        time.sleep(1.0)
        print(f"    [{label}] {at_click} of {len(expected)} bytes in the target at the click")
        check(other.data() == b"", f"the other window received {other.data()[:80]!r}")
        check(expected.startswith(target.data()), "the target's text is not a prefix of the lines")
        if on_stop:
            stopped_at = len(target.data())
            screenshot(workdir, "stopped-with-held")
            check(stopped_at < len(expected), "everything was typed before Stop took effect")
            log = split_log(app.save_log(os.path.join(workdir, "log-stop.txt")))
            stray = [x for x in log if not (x in lines or x.startswith("[held] ")
                                            or x.startswith("[cut after ") or x.startswith(HELD)
                                            or x.startswith("The target takes keys again"))]
            check(not stray, f"lines in the log that were never received: {stray[:3]!r}")
            cut = [x for x in log if x.startswith("[cut after ")]
            print(f"    [{label}] log: {len(log)} lines; {cut[0][:60] if cut else 'no cut'}")
            app.click_read_start()
            try:
                wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "Read Start")
            except AssertionError:
                screenshot(workdir, "read-start-missed")
                print(f"    Read Start missed: {app.windows()!r}, main window {app.window}")
                if app.title() == "Parvelo[Stop]":  # a start that failed says why in the log
                    tail = [x[:100] for x in split_log(
                        app.save_log(os.path.join(workdir, "log-missed.txt")))[-4:]]
                    print(f"    log ends {tail!r}")
                raise
        got = target.wait_data(expected, 30)
        check(got == expected, f"target holds {len(got)} bytes, expected {len(expected)}; "
              f"first difference at {next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))}")
        check(other.data() == b"", f"the other window received {other.data()[:80]!r}")
        return f"{label}: nothing elsewhere, all {len(lines)} lines exact in the end"
    finally:
        app.close()
        target.stop()
        other.stop()


def case_no_window(exe, workdir):
    script = os.path.join(workdir, "no-window.sh")
    with open(script, "w") as f:
        f.write(f"#!/bin/sh\necho $$ > {script}.pid\nexec sleep 120\n")
    os.chmod(script, 0o755)
    serial = SerialLine()
    app = Parvelo(exe, {"Settings": {"ExeFileName": script, "OpenPathName": workdir}}, serial)
    try:
        started = time.monotonic()
        app.software_execution()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
        sent = []
        while time.monotonic() - started < 12:
            sent.append(f"w{len(sent)} +0012.{len(sent):03d} g")
            serial.send(sent[-1].encode() + b"\r\n")
            time.sleep(0.5)
        cpu = idle_cpu(app)
        print(f"    {cpu:.3f} s of CPU in 2 s of waiting for the window")
        check(cpu < 0.1, f"waiting costs {cpu:.3f} s of CPU in 2 s")
        screenshot(workdir, "no-window-held")
        wait_for(lambda: app.title() == "Parvelo[Stop]", 40, "the wait to end")
        waited = time.monotonic() - started
        screenshot(workdir, "no-window-halted")
        lines = split_log(app.save_log(os.path.join(workdir, "log-no-window.txt")))
        print(f"    halted after {waited:.1f} s; log {lines[:2]!r} ... {lines[-3:]!r}")
        check(lines[0] == HELD + f'waiting for the window of "{script}" to appear.',
              f"first log line {lines[0]!r}")
        check(lines[1:1 + len(sent)] == [f"[held] {s}" for s in sent], "held lines")
        rest = lines[1 + len(sent):]
        check(rest == [f"[not typed] {s}" for s in sent]
              + ["The reception error occurred.",
                 f'The window of "{script}" was not found; it may have ended.',
                 f"{len(sent)} readings were received but not typed."], f"log {rest!r}")
        events = [r["events"] for r in events_by_reading(app).values()]
        check(events == [["received", "held", "not typed"]] * len(sent), f"journal {events!r}")
        return f"{len(sent)} readings held for {waited:.0f} s, then listed as not typed"
    finally:
        app.close()
        end_group(script + ".pid")


def case_sigkill(exe, workdir):
    app, serial, target = start_run(exe, workdir)
    try:
        odd = b"tab\there lf\nhere \xb0\xff\xe6\x97 \xe6\x97\xa5\xe6\x9c\xac \\x41"
        serial.send(odd + b"\r\n")
        sent = [f"K{i:05d} +{i * 0.731:09.3f} g" for i in range(3000)]
        burst = b"".join(s.encode() + b"\r\n" for s in sent)
        serial.send(burst[:len(burst) // 2])
        wait_for(lambda: target.data().count(b"\n") > 50, 20, "lines to be typed")
        os.kill(app.proc.pid, signal.SIGKILL)
        app.proc.wait(5)
        typed = target.data().split(b"\n")[:-1]
        received = [r for r in app.journal() if r[3] == "received"]
        texts = [r[4] for r in received]
        print(f"    {len(typed)} lines typed before the kill; {len(texts)} in the journal")
        check(texts and texts[0] == odd, f"odd line read back as {texts[0] if texts else None!r}")
        # The target got the odd line as typed text (LF and invalid bytes are not keys).
        check(texts[1:len(typed)] == [t for t in typed[1:]],
              "the journal lacks or reorders a typed line")
        check(all(t.decode() == s for t, s in zip(texts[1:], sent)), "a torn or wrong record")
        return f"{len(typed)} lines typed, all {len(texts)} received lines whole in the journal"
    finally:
        app.close()
        target.stop()


def main():
    exe, target_exe = sys.argv[1], sys.argv[2]
    workdir = tempfile.mkdtemp(prefix="parvelo-lost-")
    print(f"work folder {workdir}")
    sh("setxkbmap", "us")
    cases = [
        ("modal dialog", lambda: case_modal_dialog(exe, target_exe, workdir)),
        ("click elsewhere", lambda: case_click_elsewhere(exe, workdir, False)),
        ("click on Stop", lambda: case_click_elsewhere(exe, workdir, True)),
        ("no window", lambda: case_no_window(exe, workdir)),
        ("sigkill", lambda: case_sigkill(exe, workdir)),
    ]
    return run_cases(cases, sys.argv[3:])


if __name__ == "__main__":
    sys.exit(main())
