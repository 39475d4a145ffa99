#!/usr/bin/env python3
"""Parvelo benchmarks, side by side with the tools a user would pick instead.

Run through bench/run.sh, which builds the helpers and provides an X session.
Prints every figure with its anchor and the ratio. Times are measured, never
judged: nothing here passes or fails on speed. Parvelo figures that cannot be
measured (no build/parvelo, or a run that did not start) are reported as
such and make the exit status non-zero.
"""

import argparse
import difflib
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLK_TCK = os.sysconf("SC_CLK_TCK")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import calc_profile  # noqa: E402  (throw-away LibreOffice profile, cell read-back)

# Sensitive characters of instrument data: shifted symbols, repeated digits.
ASCII_PIECES = ["+0012.345 g", "-0001.500 g", "23.5 C", "1.511", "100", "11",
                "000123", "+ % ^ ~", "( ) { } [ ]", "ABCabc", "x=7;y=-2", "#42 @ok"]

# For Calc, lines start with a digit or a capital (a leading "+" or "=" would
# begin a formula, and Calc capitalises some lower-case starts such as
# "x=7;") and mix in spaces, so that every cell stays text as typed.
CALC_PIECES = ["0012.345 g", "23.5 C", "1.511", "100", "11", "000123", "ABCabc",
               "K=7;y=-2", "N42 ok", "0.0011 mm", "1000 kPa"]


class NotMeasured(Exception):
    pass


def log(msg):
    print(msg, flush=True)


def now():
    return time.monotonic()


def corpus(n, width=20, pieces=ASCII_PIECES):
    """n lines of exactly `width` characters, deterministic."""
    lines = []
    for i in range(n):
        s = ""
        k = i
        while len(s) < width:
            s += pieces[k % len(pieces)] + " "
            k += 7
        lines.append(s[:width].rstrip() or "0")
    return lines


def typed_chars(lines):
    # Each line's characters plus one Return.
    return sum(len(l) for l in lines) + len(lines)


def wrong_chars(expected, got):
    if expected == got:
        return 0
    sm = difflib.SequenceMatcher(None, expected, got, autojunk=False)
    return sum(max(i2 - i1, j2 - j1) for tag, i1, i2, j1, j2 in sm.get_opcodes() if tag != "equal")


def xdotool(*args, timeout=10):
    r = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)
    return r.stdout.split()


def wait_window(pid=None, name=None, cls=None, timeout=20.0, poll=0.01):
    """First visible window of pid / name / class; polls quickly so that
    start-up times are not rounded up to xdotool's own 0.5 s sync step."""
    args = ["search", "--onlyvisible"]
    if pid is not None:
        args += ["--pid", str(pid)]
    elif name is not None:
        args += ["--name", name]
    else:
        args += ["--class", cls]
    limit = now() + timeout
    while now() < limit:
        ids = xdotool(*args)
        if ids:
            return ids[0]
        time.sleep(poll)
    raise NotMeasured("no window for %s within %.0f s" % (pid or name or cls, timeout))


def active_window():
    ids = xdotool("getactivewindow")
    return ids[0] if ids else None


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15; fields[0] here is field 3.
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise NotMeasured("no VmRSS for %d" % pid)


def wait_size(path, size, timeout, stall=5.0):
    """Time at which path reached size bytes; gives up after timeout, or when
    the file stops growing for `stall` seconds."""
    limit = now() + timeout
    last, last_change = -1, now()
    while now() < limit:
        try:
            s = os.path.getsize(path)
        except OSError:
            s = -1
        if s >= size:
            return now()
        if s != last:
            last, last_change = s, now()
        elif now() - last_change > stall:
            return None
        time.sleep(0.005)
    return None


def kill(p):
    if p and p.poll() is None:
        p.terminate()
        try:
            p.wait(3)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


class Bench:
    def __init__(self, args):
        self.a = args
        self.build = os.path.abspath(args.build)
        self.tmp = tempfile.mkdtemp(prefix="parvelo-bench.")
        self.rows = []      # (figure, parvelo, anchor name, anchor value, unit, ratio note)
        self.missing = []
        self.procs = []

    def bin(self, name):
        return os.path.join(self.build, name)

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, **kw)
        self.procs.append(p)
        return p

    def cleanup(self):
        for p in reversed(self.procs):
            kill(p)
        if not self.a.keep:
            shutil.rmtree(self.tmp, ignore_errors=True)

    def row(self, figure, value, anchor_name, anchor, unit, higher_better=True):
        self.rows.append((figure, value, anchor_name, anchor, unit, higher_better))
        log("  %-44s %s" % (figure, fmt_row(value, anchor_name, anchor, unit)))

    # ---- targets ------------------------------------------------------

    def xterm_script(self, out):
        """A target that writes every byte xterm sends into out. raw: no
        CR-to-LF, no signals; -iexten: no ^V quoting; -echo: nothing typed
        back to the screen slows xterm down."""
        script = os.path.join(self.tmp, "xterm-cat-%d.sh" % len(os.listdir(self.tmp)))
        with open(script, "w") as f:
            f.write("#!/bin/sh\nexec xterm -u8 -e sh -c "
                    "'stty raw -echo -iexten; exec cat > \"%s\"'\n" % out)
        os.chmod(script, 0o755)
        return script

    def start_xterm(self, out):
        if os.path.exists(out):
            os.unlink(out)
        env = dict(os.environ, LC_ALL="C.UTF-8")
        p = self.spawn([self.xterm_script(out)], env=env, stderr=subprocess.DEVNULL)
        wid = wait_window(pid=p.pid)
        limit = now() + 10
        while not os.path.exists(out) and now() < limit:
            time.sleep(0.01)
        subprocess.run(["xdotool", "windowactivate", "--sync", wid], capture_output=True, timeout=10)
        time.sleep(0.3)
        return p, wid

    # ---- anchors into xterm ------------------------------------------

    def anchor_into_xterm(self, name, argv_for, lines):
        inp = os.path.join(self.tmp, name + ".in")
        with open(inp, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        out = os.path.join(self.tmp, name + ".out")
        xt, _ = self.start_xterm(out)
        expected = "".join(l + "\r" for l in lines).encode()
        t0 = now()
        with open(inp, "rb") as stdin:
            typer = self.spawn(argv_for(inp), stdin=stdin, stderr=subprocess.PIPE)
            t1 = wait_size(out, len(expected), timeout=self.a.timeout)
            _, err = typer.communicate(timeout=self.a.timeout)
        time.sleep(0.2)
        kill(xt)
        got = open(out, "rb").read()
        if t1 is None:
            t1 = now()
        wrong = wrong_chars(expected, got)
        cps = typed_chars(lines) / (t1 - t0)
        cpu = None
        for tok in err.decode(errors="replace").split():
            if tok.startswith("cpu_s="):
                cpu = float(tok[6:])
        log("  anchor %-22s %6d chars in %6.2f s = %8.0f chars/s, %d wrong" %
            (name, typed_chars(lines), t1 - t0, cps, wrong))
        return {"cps": cps, "wrong": wrong, "secs": t1 - t0, "cpu_pct": (cpu / (t1 - t0) * 100) if cpu else None}

    def anchors_xterm(self):
        log("Anchors: typing into xterm running cat > file")
        pipeline = ("while IFS= read -r line; do xdotool type -- \"$line\"; "
                    "xdotool key Return; done")
        self.xdotool_x = self.anchor_into_xterm(
            "xdotool-pipeline", lambda inp: ["bash", "-c", pipeline], corpus(self.a.xdotool_lines))
        self.libxdo_x = self.anchor_into_xterm(
            "libxdo", lambda inp: [self.bin("xdo_anchor")], corpus(self.a.libxdo_lines))

    # ---- latency --------------------------------------------------------

    def latency_run(self, name, start_typer, count, rate=10):
        """CR written on the pty -> Return seen by keyrecorder, per line."""
        lines = corpus(count)
        text = os.path.join(self.tmp, name + "-lat.txt")
        with open(text, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        crlog = os.path.join(self.tmp, name + "-cr.log")
        keylog = os.path.join(self.tmp, name + "-keys.log")
        inst = self.spawn([self.bin("vinstrument"), "--kind", "text", text, "--rate", str(rate),
                           "--ending", "crlf", "--wait-signal", "--hold", "--log-cr", crlog],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = inst.stdout.readline().strip()
        stopper = start_typer(pty, keylog)
        inst.send_signal(signal.SIGUSR1)
        limit = now() + count / rate + self.a.timeout
        returns = []
        while now() < limit:
            returns = read_returns(keylog)
            if len(returns) >= count:
                break
            time.sleep(0.1)
        kill(inst)
        stopper()
        crs = [int(l.split()[0]) for l in open(crlog)] if os.path.exists(crlog) else []
        typed = read_text(keylog)
        want = "".join(l + "\r" for l in lines)
        wrong = wrong_chars(want, typed)
        n = min(len(crs), len(returns))
        if n == 0:
            raise NotMeasured("%s: no Return key seen" % name)
        lat = sorted((returns[i] - crs[i]) / 1e6 for i in range(n))
        med = statistics.median(lat)
        p99 = lat[min(n - 1, int(round(0.99 * (n - 1))))]
        log("  %-24s %d lines, %d Returns seen, %d wrong chars: median %.2f ms, p99 %.2f ms, max %.2f ms" %
            (name, count, len(returns), wrong, med, p99, lat[-1]))
        return {"median": med, "p99": p99, "wrong": wrong, "seen": len(returns)}

    def recorder(self, keylog):
        env = dict(os.environ, KEYRECORDER_OUT=keylog)
        p = self.spawn([self.bin("keyrecorder")], env=env)
        wid = wait_window(pid=p.pid)
        subprocess.run(["xdotool", "windowactivate", "--sync", wid], capture_output=True, timeout=10)
        time.sleep(0.2)
        return p

    def anchors_latency(self):
        log("Anchors: latency, 20-character lines every 100 ms, CR on the pty to Return in the window")

        def shell_typer(pty, keylog):
            rec = self.recorder(keylog)
            sh = self.spawn(["bash", "-c",
                             "while IFS= read -r line; do line=${line%$'\\r'}; "
                             "xdotool type -- \"$line\"; xdotool key Return; done < " + pty],
                            stderr=subprocess.DEVNULL)
            time.sleep(0.5)
            return lambda: (kill(sh), kill(rec))

        def xdo_typer(pty, keylog):
            rec = self.recorder(keylog)
            t = self.spawn([self.bin("xdo_anchor")], stdin=open(pty, "rb"), stderr=subprocess.DEVNULL)
            time.sleep(0.5)
            return lambda: (kill(t), kill(rec))

        self.lat_xdotool = self.latency_run("xdotool-pipeline", shell_typer, self.a.xdotool_latency_lines)
        self.lat_libxdo = self.latency_run("libxdo", xdo_typer, self.a.latency_lines)

    # ---- start-up ---------------------------------------------------------

    def startup_xterm(self):
        times = []
        for _ in range(self.a.startups):
            t0 = now()
            p = self.spawn(["xterm", "-e", "sleep", "30"], stderr=subprocess.DEVNULL)
            wait_window(pid=p.pid, poll=0.002)
            times.append((now() - t0) * 1000)
            kill(p)
        return statistics.median(times)

    # ---- Parvelo ----------------------------------------------------------

    def parvelo_present(self):
        exe = self.bin("parvelo")
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            raise NotMeasured("%s is missing: build it first (cmake --build build --target parvelo)" % exe)
        return exe

    def parvelo_config(self, pty, target):
        home = tempfile.mkdtemp(prefix="cfg.", dir=self.tmp)
        os.makedirs(os.path.join(home, "Parvelo"))
        with open(os.path.join(home, "Parvelo", "Parvelo.conf"), "w") as f:
            f.write("[Settings]\nExeFileName=%s\nInsertDate=0\nInsertTime=0\n"
                    "OpenPathName=%s\nSavePathName=%s\n\n"
                    "[Properties]\nSettings=9600,n,8,1\nCommPort=1\nHandshaking=0\n\n"
                    "[Ports]\nCom1=%s\n" % (target, self.tmp, self.tmp, pty))
        return home

    def start_parvelo(self, pty, target, extra_env=None):
        exe = self.parvelo_present()
        home = self.parvelo_config(pty, target)
        env = dict(os.environ, XDG_CONFIG_HOME=home, **(extra_env or {}))
        t0 = now()
        p = self.spawn([exe], env=env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(home, "stderr"), "w"))
        wid = wait_window(pid=p.pid, poll=0.002, timeout=20)
        shown = now() - t0
        if p.poll() is not None:
            raise NotMeasured("parvelo exited with status %s" % p.returncode)
        return p, wid, shown

    def start_run(self, p, wid):
        """Software Execution by keyboard: Alt+A, then Enter in the file
        dialog, which proposes ExeFileName."""
        subprocess.run(["xdotool", "windowactivate", "--sync", wid], capture_output=True, timeout=10)
        time.sleep(0.2)
        xdotool("key", "--clearmodifiers", "alt+a")
        limit = now() + 10
        while active_window() == wid and now() < limit:
            time.sleep(0.05)
        if active_window() == wid:
            raise NotMeasured("Alt+A opened no dialog")
        time.sleep(0.3)
        xdotool("key", "Return")

    def parvelo_xterm(self):
        log("Parvelo: typing into xterm running cat > file")
        lines = corpus(self.a.parvelo_lines)
        text = os.path.join(self.tmp, "parvelo-x.txt")
        with open(text, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        out = os.path.join(self.tmp, "parvelo-x.out")
        inst = self.spawn([self.bin("vinstrument"), "--kind", "text", text, "--ending", "crlf",
                           "--wait-signal", "--hold"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = inst.stdout.readline().strip()
        p, wid, _ = self.start_parvelo(pty, self.xterm_script(out), {"LC_ALL": "C.UTF-8"})
        self.start_run(p, wid)
        limit = now() + 20
        while not os.path.exists(out) and now() < limit:
            time.sleep(0.01)
        if not os.path.exists(out):
            raise NotMeasured("the xterm target did not start")
        time.sleep(1.0)
        expected = "".join(l + "\r" for l in lines).encode()
        c0, t0 = cpu_seconds(p.pid), now()
        inst.send_signal(signal.SIGUSR1)
        t1 = wait_size(out, len(expected), timeout=self.a.timeout)
        c1 = cpu_seconds(p.pid)
        time.sleep(0.3)
        got = open(out, "rb").read()
        kill(inst)
        kill(p)
        if t1 is None:
            t1 = now()
        wrong = wrong_chars(expected, got)
        cps = typed_chars(lines) / (t1 - t0)
        cpu = (c1 - c0) / (t1 - t0) * 100
        log("  %d chars in %.2f s = %.0f chars/s, %d wrong; CPU %.1f %% of a core" %
            (typed_chars(lines), t1 - t0, cps, wrong, cpu))
        return {"cps": cps, "wrong": wrong, "cpu_pct": cpu}

    def parvelo_latency_and_idle(self):
        log("Parvelo: latency into keyrecorder, then CPU while a run waits")
        box = {}

        def typer(pty, keylog):
            p, wid, _ = self.start_parvelo(pty, self.bin("keyrecorder"), {"KEYRECORDER_OUT": keylog})
            self.start_run(p, wid)
            wait_window(cls="KeyRecorder", timeout=20)
            time.sleep(1.0)
            box["p"] = p
            # A run that waits for data: nothing has been sent yet.
            c0 = cpu_seconds(p.pid)
            time.sleep(self.a.idle_secs)
            box["idle"] = (cpu_seconds(p.pid) - c0) / self.a.idle_secs * 100
            return lambda: kill(p)

        lat = self.latency_run("parvelo", typer, self.a.latency_lines)
        log("  CPU while waiting %.0f s: %.3f %% of a core" % (self.a.idle_secs, box["idle"]))
        return lat, box["idle"]

    def parvelo_startup(self):
        times = []
        for _ in range(self.a.startups):
            inst = self.spawn([self.bin("vinstrument"), "--kind", "counter", "--wait-signal", "--hold"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            pty = inst.stdout.readline().strip()
            p, _, shown = self.start_parvelo(pty, "/bin/true")
            times.append(shown * 1000)
            kill(p)
            kill(inst)
        return statistics.median(times)

    def parvelo_rss(self):
        n = self.a.rss_lines
        log("Parvelo: resident memory after %d lines" % n)
        inst = self.spawn([self.bin("vinstrument"), "--kind", "counter", "--count", str(n), "--ending", "crlf",
                           "--wait-signal", "--hold", "--sent-file", os.path.join(self.tmp, "rss-sent")],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = inst.stdout.readline().strip()
        out = os.path.join(self.tmp, "rss.out")
        p, wid, _ = self.start_parvelo(pty, self.xterm_script(out))
        self.start_run(p, wid)
        limit = now() + 20
        while not os.path.exists(out) and now() < limit:
            time.sleep(0.01)
        time.sleep(1.0)
        before = vm_rss_kb(p.pid)
        inst.send_signal(signal.SIGUSR1)
        t0 = now()
        t1 = wait_size(out, n * 7, timeout=self.a.rss_timeout, stall=10)
        time.sleep(1.0)
        rss = vm_rss_kb(p.pid)
        done = os.path.getsize(out) // 7
        kill(inst)
        kill(p)
        if t1 is None:
            raise NotMeasured("only %d of %d lines arrived; RSS then %.1f MB" % (done, n, rss / 1024))
        log("  %d lines in %.1f s; VmRSS %.1f MB before, %.1f MB after" % (n, t1 - t0, before / 1024, rss / 1024))
        return rss / 1024

    # ---- into LibreOffice Calc ---------------------------------------------

    def calc_target(self):
        """A fresh profile and empty sheet, and a script that opens it."""
        work = tempfile.mkdtemp(prefix="calc.", dir=self.tmp)
        profile = calc_profile.make_profile(work)
        sheet = calc_profile.empty_sheet(work, profile)
        script = os.path.join(work, "calc.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\nexport SAL_USE_VCLPLUGIN=gen\n"
                    "exec /usr/bin/localc --norestore -env:UserInstallation=%s %s\n" % (profile, sheet))
        os.chmod(script, 0o755)
        return work, profile, sheet, script

    def calc_finish(self, name, work, profile, sheet, lines, t0, calc_wid, sent_at=None):
        """Ctrl+S goes behind every key already sent to Calc, so the moment
        the saved file appears is when Calc has taken every line (plus the
        save itself, which makes the figure a little low). The cells are then
        read back and compared with what was sent."""
        before = os.path.getmtime(sheet)
        xdotool("key", "ctrl+s")
        limit = now() + self.a.timeout
        while os.path.getmtime(sheet) == before and now() < limit:
            time.sleep(0.01)
        t1 = now()
        if os.path.getmtime(sheet) == before:
            raise NotMeasured("%s: Calc did not save within %.0f s" % (name, self.a.timeout))
        time.sleep(1.0)
        xdotool("key", "ctrl+q")
        limit = now() + 60
        while subprocess.run(["pgrep", "-f", work], capture_output=True).returncode == 0 and now() < limit:
            time.sleep(0.2)
        subprocess.run(["pkill", "-f", work], capture_output=True)
        rows = calc_profile.read_cells(work, profile, sheet)
        got = "".join("\t".join(r) + "\r" for r in rows)
        expected = "".join(l + "\r" for l in lines)
        wrong = wrong_chars(expected, got)
        cells = ["\t".join(r) for r in rows]
        bad = [(i, l, cells[i] if i < len(cells) else None) for i, l in enumerate(lines)
               if i >= len(cells) or cells[i] != l]
        for i, sent, cell in bad[:3]:
            log("    row %d: sent %r, cell %r" % (i + 1, sent, cell))
        cps = typed_chars(lines) / (t1 - t0)
        log("  %-29s %6d chars in %6.2f s = %8.0f chars/s, %d wrong (%d rows)" %
            (name, typed_chars(lines), t1 - t0, cps, wrong, len(rows)))
        if sent_at is not None:
            log("    every key was sent after %.2f s (%.0f chars/s); the rest is Calc taking them" %
                (sent_at - t0, typed_chars(lines) / (sent_at - t0)))
        return {"cps": cps, "wrong": wrong}

    def anchor_into_calc(self, name, argv, lines):
        work, profile, sheet, script = self.calc_target()
        calc = self.spawn([script], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wid = wait_window(name="sheet.ods", timeout=90)
        subprocess.run(["xdotool", "windowactivate", "--sync", wid], capture_output=True, timeout=10)
        time.sleep(4)  # let Calc finish loading
        inp = os.path.join(work, "lines.in")
        with open(inp, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        t0 = now()
        with open(inp, "rb") as stdin:
            typer = self.spawn(argv, stdin=stdin, stderr=subprocess.DEVNULL)
            typer.wait(timeout=self.a.timeout * 5)
        result = self.calc_finish("anchor " + name, work, profile, sheet, lines, t0, wid, now())
        kill(calc)
        return result

    def anchors_calc(self):
        log("Anchors: typing into LibreOffice Calc")
        pipeline = ("while IFS= read -r line; do xdotool type -- \"$line\"; "
                    "xdotool key Return; done")
        self.xdotool_c = self.measure("anchor xdotool into Calc", lambda: self.anchor_into_calc(
            "xdotool-pipeline", ["bash", "-c", pipeline], corpus(self.a.xdotool_lines, pieces=CALC_PIECES)))
        self.libxdo_c = self.measure("anchor libxdo into Calc", lambda: self.anchor_into_calc(
            "libxdo", [self.bin("xdo_anchor")], corpus(self.a.libxdo_lines, pieces=CALC_PIECES)))

    def parvelo_calc(self):
        log("Parvelo: typing into LibreOffice Calc")
        lines = corpus(self.a.calc_lines, pieces=CALC_PIECES)
        work, profile, sheet, script = self.calc_target()
        text = os.path.join(work, "lines.txt")
        with open(text, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        inst = self.spawn([self.bin("vinstrument"), "--kind", "text", text, "--ending", "crlf",
                           "--wait-signal", "--hold"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = inst.stdout.readline().strip()
        p, wid, _ = self.start_parvelo(pty, script)
        self.start_run(p, wid)
        calc_wid = wait_window(name="sheet.ods", timeout=90)
        time.sleep(4)  # let Calc finish loading
        t0 = now()
        inst.send_signal(signal.SIGUSR1)
        # Parvelo is done when it has stopped using CPU for a moment; Calc
        # may still be working through the keys it was sent.
        last, quiet_since = cpu_seconds(p.pid), now()
        limit = now() + self.a.timeout * 5
        while now() - quiet_since < 0.5 and now() < limit:
            time.sleep(0.05)
            c = cpu_seconds(p.pid)
            if c != last:
                last, quiet_since = c, now()
        try:
            return self.calc_finish("Parvelo", work, profile, sheet, lines, t0, calc_wid, quiet_since)
        finally:
            kill(inst)
            kill(p)

    # ---- the whole run -------------------------------------------------------

    def measure(self, label, fn):
        try:
            return fn()
        except NotMeasured as e:
            log("  NOT MEASURED (%s): %s" % (label, e))
            self.missing.append("%s: %s" % (label, e))
        except (subprocess.SubprocessError, OSError) as e:
            log("  NOT MEASURED (%s): %s: %s" % (label, type(e).__name__, e))
            self.missing.append("%s: %s" % (label, e))
        return None

    def run(self):
        only = set(self.a.only.split(",")) if self.a.only else None

        def want(k):
            return only is None or k in only

        xdotool_x = libxdo_x = lat_xd = lat_lx = None
        if want("anchors"):
            self.measure("anchors xterm", self.anchors_xterm)
            xdotool_x, libxdo_x = getattr(self, "xdotool_x", None), getattr(self, "libxdo_x", None)
            self.measure("anchors latency", self.anchors_latency)
            lat_xd, lat_lx = getattr(self, "lat_xdotool", None), getattr(self, "lat_libxdo", None)
        xterm_start = self.measure("xterm start-up", self.startup_xterm) if want("startup") else None
        if want("calc-anchors"):
            self.anchors_calc()
        xdotool_c, libxdo_c = getattr(self, "xdotool_c", None), getattr(self, "libxdo_c", None)
        pc = self.measure("parvelo calc", self.parvelo_calc) if want("calc") else None

        px = self.measure("parvelo xterm", self.parvelo_xterm) if want("xterm") else None
        pl = self.measure("parvelo latency", self.parvelo_latency_and_idle) if want("latency") else None
        ps = self.measure("parvelo start-up", self.parvelo_startup) if want("startup") else None
        pr = self.measure("parvelo rss", self.parvelo_rss) if want("rss") else None

        log("")
        log("Results (%s, %s)" % (time.strftime("%Y-%m-%d"), machine()))
        g = lambda d, k: d[k] if d else None
        self.row("xterm throughput (chars/s)", g(px, "cps"), "xdotool pipeline", g(xdotool_x, "cps"), "chars/s")
        self.row("xterm throughput (chars/s)", g(px, "cps"), "libxdo, delay 0", g(libxdo_x, "cps"), "chars/s")
        self.row("xterm throughput (chars/s)", g(px, "cps"), "goal", 11520, "chars/s")
        self.row("xterm wrong characters", g(px, "wrong"), "libxdo, delay 0", g(libxdo_x, "wrong"), "", False)
        self.row("Calc throughput (chars/s)", g(pc, "cps"), "xdotool pipeline", g(xdotool_c, "cps"), "chars/s")
        self.row("Calc throughput (chars/s)", g(pc, "cps"), "libxdo, delay 0", g(libxdo_c, "cps"), "chars/s")
        self.row("Calc throughput (chars/s)", g(pc, "cps"), "goal", 5000, "chars/s")
        self.row("Calc wrong characters", g(pc, "wrong"), "libxdo, delay 0", g(libxdo_c, "wrong"), "", False)
        self.row("Calc wrong characters", g(pc, "wrong"), "xdotool pipeline", g(xdotool_c, "wrong"), "", False)
        lat = pl[0] if pl else None
        self.row("latency median (ms)", g(lat, "median"), "xdotool pipeline", g(lat_xd, "median"), "ms", False)
        self.row("latency median (ms)", g(lat, "median"), "libxdo, delay 0", g(lat_lx, "median"), "ms", False)
        self.row("latency p99 (ms)", g(lat, "p99"), "libxdo, delay 0", g(lat_lx, "p99"), "ms", False)
        self.row("latency p99 (ms)", g(lat, "p99"), "goal", 5.0, "ms", False)
        self.row("CPU while waiting 10 s (% core)", pl[1] if pl else None, "goal", 0.5, "%", False)
        self.row("CPU typing at full speed (% core)", g(px, "cpu_pct"), "libxdo, delay 0",
                 g(libxdo_x, "cpu_pct"), "%", False)
        self.row("VmRSS after %d lines (MB)" % self.a.rss_lines, pr, "goal", 80, "MB", False)
        self.row("start-up to window shown (ms)", ps, "xterm", xterm_start, "ms", False)
        self.row("start-up to window shown (ms)", ps, "goal", 300, "ms", False)
        if self.missing:
            log("")
            log("NOT MEASURED:")
            for m in self.missing:
                log("  " + m)
        return 1 if self.missing else 0


def read_returns(keylog):
    try:
        return [int(l.split()[0]) for l in open(keylog) if l.split()[1:2] == ["Return"]]
    except OSError:
        return []


def read_text(keylog):
    """What the key presses typed: UTF-8 text, Return as CR."""
    out = []
    try:
        for l in open(keylog, encoding="utf-8", errors="replace"):
            parts = l.rstrip("\n").split(" ", 2)
            if len(parts) < 3:
                continue
            t = parts[2]
            s, i = "", 0
            while i < len(t):
                if t.startswith("\\x", i):
                    s += chr(int(t[i + 2:i + 4], 16))
                    i += 4
                else:
                    s += t[i]
                    i += 1
            out.append(s)
    except OSError:
        pass
    return "".join(out)


def fmt(v, unit):
    if v is None:
        return "not measured"
    if unit in ("chars/s",):
        return "%.0f" % v
    if isinstance(v, int):
        return str(v)
    return "%.2f" % v


def fmt_row(value, anchor_name, anchor, unit):
    ratio = ""
    if value is not None and anchor:
        ratio = "ratio %.2f" % (value / anchor)
    elif value is not None and anchor == 0:
        ratio = "ratio n/a (anchor 0)"
    return "Parvelo %-12s | %-17s %-12s | %s" % (fmt(value, unit), anchor_name, fmt(anchor, unit), ratio)


def machine():
    cpu = "unknown CPU"
    try:
        for l in open("/proc/cpuinfo"):
            if l.startswith("model name"):
                cpu = l.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return "%s, %d cores, %s" % (cpu, os.cpu_count() or 0, os.uname().release)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--only", help="comma list of: anchors,calc-anchors,startup,xterm,calc,latency,rss")
    ap.add_argument("--xdotool-lines", type=int, default=100)
    ap.add_argument("--libxdo-lines", type=int, default=1000)
    ap.add_argument("--parvelo-lines", type=int, default=5000)
    ap.add_argument("--calc-lines", type=int, default=2000)
    ap.add_argument("--latency-lines", type=int, default=200)
    ap.add_argument("--xdotool-latency-lines", type=int, default=30)
    ap.add_argument("--idle-secs", type=float, default=10.0)
    ap.add_argument("--rss-lines", type=int, default=100000)
    ap.add_argument("--rss-timeout", type=float, default=900)
    ap.add_argument("--startups", type=int, default=5)
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("bench.py needs an X display; use bench/run.sh")
    b = Bench(args)
    try:
        rc = b.run()
    finally:
        b.cleanup()
    sys.exit(rc)


if __name__ == "__main__":
    main()
