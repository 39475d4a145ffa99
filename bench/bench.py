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
import json
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
import parvelo_session  # noqa: E402  (process groups of the targets)
from parvelo_session import read_journal  # noqa: E402

# Sensitive characters of instrument data: shifted symbols, repeated digits.
ASCII_PIECES = ["+0012.345 g", "-0001.500 g", "23.5 C", "1.511", "100", "11",
                "000123", "+ % ^ ~", "( ) { } [ ]", "ABCabc", "x=7;y=-2", "#42 @ok"]

# For Calc, lines start with a digit or a capital (a leading "+" or "=" would
# begin a formula, and Calc capitalises some lower-case starts such as
# "x=7;") and mix in spaces, so that every cell stays text as typed.
CALC_PIECES = ["0012.345 g", "23.5 C", "1.511", "100", "11", "000123", "ABCabc",
               "K=7;y=-2", "N42 ok", "0.0011 mm", "1000 kPa"]


# 115200 bit/s at 10 bits a character.
GOAL_XTERM = 11520


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


def wait_size(path, size, timeout, stall=5.0, samples=None):
    """Time at which path reached size bytes; gives up after timeout, or when
    the file stops growing for `stall` seconds. A list given as samples gets
    (time, size) at every change seen, for rates over parts of the run and
    the lag of each line."""
    limit = now() + timeout
    last, last_change = -1, now()
    while now() < limit:
        try:
            s = os.path.getsize(path)
        except OSError:
            s = -1
        t = now()
        if s != last:
            last, last_change = s, t
            if samples is not None:
                samples.append((t, s))
        if s >= size:
            return t
        if t - last_change > stall:
            return None
        time.sleep(0.005)
    return None


def quarter_rates(t0, samples, total):
    """Bytes a second over each quarter of the bytes; the first includes the
    time to the first key."""
    rates, prev = [], t0
    for q in range(1, 5):
        target = total * q // 4
        hit = next((t for t, s in samples if s >= target), None)
        if hit is None or hit <= prev:
            return None
        rates.append((total / 4) / (hit - prev))
        prev = hit
    return rates


def line_lags(crlog, samples, lines):
    """Seconds from each CR leaving the instrument to the line's last byte
    in the target's file (to within the 5 ms polling)."""
    try:
        crs = [int(l.split()[0]) / 1e9 for l in open(crlog)]
    except OSError:
        return None
    ends, acc = [], 0
    for l in lines:
        acc += len(l) + 1
        ends.append(acc)
    done, k = [], 0
    for t, s in samples:
        while k < len(ends) and s >= ends[k]:
            done.append(t)
            k += 1
    n = min(len(crs), len(done))
    if n == 0:
        return None
    lag = [done[i] - crs[i] for i in range(n)]
    tenth = max(1, n // 10)
    srt = sorted(lag)
    return {"n": n, "median": statistics.median(lag), "p99": srt[min(n - 1, int(round(0.99 * (n - 1))))],
            "max": srt[-1], "first10": statistics.median(lag[:tenth]), "last10": statistics.median(lag[-tenth:]),
            "end": lag[-1]}


def proc_io(pid):
    try:
        with open("/proc/%d/io" % pid) as f:
            return {k: int(v) for k, v in (l.split(":") for l in f)}
    except (OSError, ValueError):
        return None


def machine_busy():
    """(busy, total) jiffies of all CPUs, from /proc/stat."""
    try:
        with open("/proc/stat") as f:
            v = [int(x) for x in f.readline().split()[1:]]
    except (OSError, ValueError):
        return None
    idle = v[3] + (v[4] if len(v) > 4 else 0)
    return sum(v[:8]) - idle, sum(v[:8])


def users_data_home():
    return os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")


def folder_state(path):
    """Names, sizes and times of the files in path (None if there is none),
    to tell whether anything wrote there."""
    try:
        return sorted((n, os.stat(os.path.join(path, n)).st_size, os.stat(os.path.join(path, n)).st_mtime_ns)
                      for n in os.listdir(path))
    except OSError:
        return None


def fs_type(path):
    """Type of the file system holding path, from the longest matching
    mount point in /proc/mounts."""
    real, best, kind = os.path.realpath(path), "", "unknown"
    try:
        with open("/proc/mounts") as f:
            for l in f:
                fields = l.split()
                mnt = fields[1].replace("\\040", " ")
                if (real == mnt or real.startswith(mnt.rstrip("/") + "/")) and len(mnt) >= len(best):
                    best, kind = mnt, fields[2]
    except OSError:
        pass
    return kind


def line_cps(lines, baud):
    """Typed characters a second that a line of `baud` bit/s carries: on the
    line a reading is its characters plus CR LF, 10 bits a byte."""
    return typed_chars(lines) / (sum(len(l) + 2 for l in lines) * 10.0 / baud)


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
        """A private copy of build/parvelo, taken once: a rebuild in the
        build folder during the run must not mix two programs in one set of
        figures (on/off pairs above all)."""
        if getattr(self, "exe", None):
            return self.exe
        exe = self.bin("parvelo")
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            raise NotMeasured("%s is missing: build it first (cmake --build build --target parvelo)" % exe)
        os.makedirs(os.path.join(self.tmp, "bin"), exist_ok=True)
        self.exe = shutil.copy2(exe, os.path.join(self.tmp, "bin", "parvelo"))
        log("  (build/parvelo of %s, copied for this run)" %
            time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(os.path.getmtime(exe))))
        return self.exe

    def check_data_home(self, path):
        """A journal written by a benchmark must never land among the user's
        own: Parvelo's XDG_DATA_HOME has to be inside this run's work folder."""
        real = os.path.realpath(path)
        work = os.path.realpath(self.tmp)
        users = os.path.realpath(users_data_home())
        if not os.path.isabs(path) or not real.startswith(work + os.sep):
            raise NotMeasured("XDG_DATA_HOME %s is outside the work folder %s" % (path, work))
        if real == users or real.startswith(users + os.sep):
            raise NotMeasured("XDG_DATA_HOME %s is inside the user's data folder %s" % (path, users))

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
        """extra_env may set XDG_DATA_HOME (where the journal goes); by
        default it is the throw-away config folder."""
        exe = self.parvelo_present()
        home = self.parvelo_config(pty, target)
        env = dict(os.environ)
        env.update(XDG_CONFIG_HOME=home, XDG_DATA_HOME=home)
        env.update(extra_env or {})
        self.check_data_home(env["XDG_DATA_HOME"])
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
        log("Parvelo: typing into xterm running cat > file (journal in a throw-away folder)")
        return self.xterm_run("parvelo-x", corpus(self.a.parvelo_lines))

    def short_lines(self):
        """Lines of one letter, the most lines a second a 115200 bit/s line
        carries (3,840): the fixed cost of a line decides here. As fast as
        the pty takes them, and paced at --baud."""
        n = self.a.short_lines
        lines = [chr(ord("a") + i % 26) for i in range(n)]
        log("Parvelo: %d one-letter lines into xterm" % n)
        fast = self.xterm_run("short-fast", lines)
        log("  as fast as the pty takes them: %.0f lines/s" % fast["lps"])
        paced = self.xterm_run("short-paced", lines, baud=self.a.baud)
        log_paced(paced, lines, self.a.baud)
        log("  paced at %d bit/s: %.0f lines/s; the line carries %.0f" %
            (self.a.baud, paced["lps"], self.a.baud / 10.0 / 3))
        return {"fast": fast["lps"], "paced": paced["lps"], "wrong": fast["wrong"] + paced["wrong"]}

    def xterm_run(self, name, lines, data_home=None, baud=None):
        """One Parvelo run typing `lines` into the xterm target. Without baud
        the virtual instrument sends as fast as the pty takes it; with baud it
        paces the bytes as a line of that speed would and logs when each CR
        went out, so that the lag of every line can be measured."""
        text = os.path.join(self.tmp, name + ".txt")
        with open(text, "w") as f:
            f.write("".join(l + "\n" for l in lines))
        out = os.path.join(self.tmp, name + ".out")
        crlog = os.path.join(self.tmp, name + "-cr.log")
        argv = [self.bin("vinstrument"), "--kind", "text", text, "--ending", "crlf", "--wait-signal", "--hold"]
        if baud:
            argv += ["--baud", str(baud), "--log-cr", crlog]
        inst = self.spawn(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = inst.stdout.readline().strip()
        env = {"LC_ALL": "C.UTF-8"}
        if data_home:
            env["XDG_DATA_HOME"] = data_home
        p, wid, _ = self.start_parvelo(pty, self.xterm_script(out), env)
        self.start_run(p, wid)
        limit = now() + 20
        while not os.path.exists(out) and now() < limit:
            time.sleep(0.01)
        if not os.path.exists(out):
            kill(inst)
            kill(p)
            raise NotMeasured("the xterm target did not start")
        time.sleep(1.0)
        expected = "".join(l + "\r" for l in lines).encode()
        io0, busy0 = proc_io(p.pid), machine_busy()
        c0, t0 = cpu_seconds(p.pid), now()
        inst.send_signal(signal.SIGUSR1)
        samples = []
        t1 = wait_size(out, len(expected), timeout=self.a.timeout, samples=samples)
        c1, io1, busy1 = cpu_seconds(p.pid), proc_io(p.pid), machine_busy()
        time.sleep(0.3)
        got = open(out, "rb").read()
        kill(inst)
        kill(p)
        if t1 is None:
            t1 = now()
        wrong = wrong_chars(expected, got)
        secs = t1 - t0
        cps = typed_chars(lines) / secs
        cpu = (c1 - c0) / secs * 100
        log("  %d chars in %.2f s = %.0f chars/s, %d wrong (%d of %d bytes arrived); CPU %.2f s, %.1f %% of a core" %
            (typed_chars(lines), secs, cps, wrong, len(got), len(expected), c1 - c0, cpu))
        r = {"cps": cps, "lps": len(lines) / secs, "wrong": wrong, "cpu_pct": cpu, "cpu_s": c1 - c0,
             "quarters": quarter_rates(t0, samples, len(expected))}
        if io0 and io1:
            r["syscw"] = io1["syscw"] - io0["syscw"]
            r["wchar"] = io1["wchar"] - io0["wchar"]
        if busy0 and busy1:
            r["busy_pct"] = 100.0 * (busy1[0] - busy0[0]) / max(1, busy1[1] - busy0[1])
        if baud:
            r["lag"] = line_lags(crlog, samples, lines)
        return r

    # ---- the journal's cost ---------------------------------------------------

    def journal_cost(self):
        """The xterm run with the journal on (a writable throw-away
        XDG_DATA_HOME) and off (XDG_DATA_HOME below a regular file: every
        record's open fails at once and nothing is written), alternated so
        that both see the same load on a shared machine."""
        lines = corpus(self.a.journal_lines)
        root = tempfile.mkdtemp(prefix="journal.", dir=self.tmp)
        blocker = os.path.join(root, "a-regular-file")
        open(blocker, "w").close()
        off_home = os.path.join(blocker, "data")
        users = os.path.join(users_data_home(), "Parvelo", "journal")
        users_before = folder_state(users)
        log("Parvelo: the journal's cost, xterm, %d lines as fast as the pty takes them, %d on/off pairs"
            % (len(lines), self.a.journal_pairs))
        kind = fs_type(root)
        log("  journal on: a fresh folder in %s (%s); off: XDG_DATA_HOME below a regular file" % (root, kind))
        if kind in ("tmpfs", "ramfs"):
            log("  NOTE: %s keeps the journal in memory, where fdatasync costs nothing" % kind)
        runs = {"on": [], "off": []}
        self.journal_paced = []
        order = ("off", "on") if self.a.journal_off_first else ("on", "off")
        plan = ([(i, None) for i in range(self.a.journal_pairs)] +
                [(i, self.a.baud) for i in range(self.a.journal_paced_pairs)])
        for i, baud in plan:
            for mode in order:
                name = "journal-%s%s-%d" % ("paced-" if baud else "", mode, i + 1)
                home = os.path.join(root, name) if mode == "on" else off_home
                if mode == "on":
                    os.makedirs(home)
                label = "journal %s, %srun %d" % (mode, "paced at %d bit/s, " % baud if baud else "", i + 1)
                log(" %s (%s)" % (label, time.strftime("%H:%M:%S")))
                r = self.measure(label, lambda: self.xterm_run(name, lines, home, baud=baud))
                if r is None or not self.measure(
                        label, lambda: self.journal_check(r, mode, home, lines, blocker, goal=not baud)):
                    continue
                if baud:
                    log_paced(r, lines, baud)
                    r["mode"] = mode
                    self.journal_paced.append(r)
                else:
                    log_run_details(r)
                    runs[mode].append(r)
        if folder_state(users) != users_before:
            log("  WARNING: %s changed during these runs" % users)
        else:
            log("  %s: untouched by these runs" % users)
        on = [r["cps"] for r in runs["on"]]
        off = [r["cps"] for r in runs["off"]]
        log("  journal on:  %s chars/s" % ", ".join("%.0f" % c for c in on))
        log("  journal off: %s chars/s" % ", ".join("%.0f" % c for c in off))
        for i, (a, b) in enumerate(zip(on, off)):
            log("  pair %d: on/off %.3f" % (i + 1, a / b))
        if not on or not off:
            raise NotMeasured("no complete on/off pair")
        med_on, med_off = statistics.median(on), statistics.median(off)
        log("  Parvelo CPU seconds a run: on %s; off %s" % (
            ", ".join("%.2f" % r["cpu_s"] for r in runs["on"]), ", ".join("%.2f" % r["cpu_s"] for r in runs["off"])))
        log("  median on %.0f, median off %.0f chars/s: on/off %.3f; goal %d chars/s with the journal on: %s"
            % (med_on, med_off, med_on / med_off, GOAL_XTERM,
               "holds" if med_on >= GOAL_XTERM else "DOES NOT HOLD"))
        return {"on": med_on, "off": med_off, "n": min(len(on), len(off)),
                "on_cpu": statistics.median(r["cpu_pct"] for r in runs["on"]),
                "off_cpu": statistics.median(r["cpu_pct"] for r in runs["off"])}

    def journal_check(self, r, mode, home, lines, blocker, goal=True):
        """Counts what reached the journal; with it on, one "received" record
        per line sent, with the line's text in order, and one "typed" each."""
        if mode == "off":
            ok = os.path.isfile(blocker) and os.path.getsize(blocker) == 0
            log("  journal off: %s" % ("nothing written (its folder cannot be made)" if ok
                                       else "the regular file changed: the run is not journal-off"))
            if not ok:
                raise NotMeasured("journal-off run wrote somewhere")
        else:
            recs = read_journal(home)
            folder = os.path.join(home, "Parvelo", "journal")
            size = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)) \
                if os.path.isdir(folder) else 0
            if not recs:
                log("  journal on: NO JOURNAL RECORDS in %s" % home)
                raise NotMeasured("journal-on run wrote no journal")
            events = {}
            for f in recs:
                events[f[3]] = events.get(f[3], 0) + 1
            received = [f for f in recs if f[3] == "received"]
            typed_ids = {f[2] for f in recs if f[3] == "typed"}
            same_text = [f[4].decode(errors="replace") for f in received] == lines
            all_typed = all(f[2] in typed_ids for f in received)
            log("  journal on: %d records, %d bytes (%s); received = the %d lines sent, in order: %s; "
                "each has a typed record: %s" %
                (len(recs), size, ", ".join("%d %s" % (n, e) for e, n in sorted(events.items())),
                 len(lines), "yes" if same_text else "NO", "yes" if all_typed else "NO"))
        if goal:
            log("  goal %d chars/s: %s (%.0f chars/s, journal %s)" %
                (GOAL_XTERM, "holds" if r["cps"] >= GOAL_XTERM else "DOES NOT HOLD", r["cps"], mode))
        return True

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
        log("Parvelo: resident memory after %d lines at %d bit/s" % (n, self.a.baud))
        # Paced as a 115200 bit/s line would: as fast as the pty takes them,
        # the lines would outrun typing and fill the held queue instead.
        inst = self.spawn([self.bin("vinstrument"), "--kind", "counter", "--count", str(n), "--ending", "crlf",
                           "--baud", str(self.a.baud),
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
        half = None
        t1 = None
        deadline = t0 + self.a.rss_timeout
        while now() < deadline:
            done = os.path.getsize(out) // 7
            if half is None and done >= n // 2:
                half = vm_rss_kb(p.pid)
                log("  %d lines after %.1f s: VmRSS %.1f MB" % (done, now() - t0, half / 1024))
            if done >= n:
                t1 = now()
                break
            time.sleep(0.2)
        time.sleep(1.0)
        rss = vm_rss_kb(p.pid)
        done = os.path.getsize(out) // 7
        kill(inst)
        kill(p)
        if t1 is None or half is None:
            raise NotMeasured("only %d of %d lines arrived; RSS then %.1f MB" % (done, n, rss / 1024))
        log("  %d lines in %.1f s; VmRSS %.1f MB before, %.1f MB at half, %.1f MB after" %
            (n, t1 - t0, before / 1024, half / 1024, rss / 1024))
        return {"end": rss / 1024, "growth": (rss - half) / 1024}

    # ---- into LibreOffice Calc ---------------------------------------------

    def calc_target(self):
        """A fresh profile and empty sheet, and a script that opens it."""
        work = tempfile.mkdtemp(prefix="calc.", dir=self.tmp)
        profile = calc_profile.make_profile(work)
        sheet = calc_profile.empty_sheet(work, profile)
        return work, profile, sheet, calc_profile.calc_target(work, profile, sheet)

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
        # calc.sh runs in a session of its own (Parvelo starts it so, and so
        # does the anchor): its process group is this Calc and nothing else.
        pgid = parvelo_session.read_pid(calc_profile.calc_pidfile(work))
        limit = now() + 60
        while parvelo_session.group_members(pgid) and now() < limit:
            time.sleep(0.2)
        calc_profile.end_calc(work)
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
        calc = self.spawn([script], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          start_new_session=True)
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

    def wine_figures(self):
        """The Windows build under Wine (bench/win/wine_bench.py), in an X
        session of its own without a window manager, as Wine wants it."""
        log("Under Wine: parvelo.exe and a SendInput anchor typing into a Win32 window")
        out = os.path.join(self.tmp, "wine.json")
        subprocess.run([os.path.join(ROOT, "tests", "e2e", "xsession.sh"), "--no-wm", "python3",
                        os.path.join(ROOT, "bench", "win", "wine_bench.py"), "--build", self.build,
                        "--baud", str(self.a.baud), "--json", out], timeout=1800)
        if not os.path.exists(out):
            raise NotMeasured("bench/win/wine_bench.py wrote no figures")
        r = json.load(open(out))
        self.missing += r["missing"]
        return r

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
        pj = self.measure("parvelo journal", self.journal_cost) if want("journal") else None
        pl = self.measure("parvelo latency", self.parvelo_latency_and_idle) if want("latency") else None
        ps = self.measure("parvelo start-up", self.parvelo_startup) if want("startup") else None
        pr = self.measure("parvelo rss", self.parvelo_rss) if want("rss") else None
        sl = self.measure("parvelo short lines", self.short_lines) if want("short") else None
        wn = self.measure("wine", self.wine_figures) if want("wine") else None

        log("")
        log("Results (%s, %s)" % (time.strftime("%Y-%m-%d"), machine()))
        g = lambda d, k: d[k] if d else None
        self.row("xterm throughput (chars/s)", g(px, "cps"), "xdotool pipeline", g(xdotool_x, "cps"), "chars/s")
        self.row("xterm throughput (chars/s)", g(px, "cps"), "libxdo, delay 0", g(libxdo_x, "cps"), "chars/s")
        self.row("xterm throughput (chars/s)", g(px, "cps"), "goal", GOAL_XTERM, "chars/s")
        self.row("xterm wrong characters", g(px, "wrong"), "libxdo, delay 0", g(libxdo_x, "wrong"), "", False)
        jn = "xterm, journal on (median of %d)" % (pj["n"] if pj else self.a.journal_pairs)
        self.row(jn, g(pj, "on"), "journal off", g(pj, "off"), "chars/s")
        self.row(jn, g(pj, "on"), "goal", GOAL_XTERM, "chars/s")
        self.row("CPU, journal on (% core)", g(pj, "on_cpu"), "journal off", g(pj, "off_cpu"), "%", False)
        for r in getattr(self, "journal_paced", []):
            self.row("xterm at %d bit/s, journal %s" % (self.a.baud, r["mode"]), r["cps"], "the line",
                     line_cps(corpus(self.a.journal_lines), self.a.baud), "chars/s")
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
        line_rate = self.a.baud / 10.0 / 3  # "a" CR LF
        self.row("one-letter lines, as fast as the pty (lines/s)", g(sl, "fast"),
                 "the line at %d bit/s" % self.a.baud, line_rate, "lines/s")
        self.row("one-letter lines at %d bit/s (lines/s)" % self.a.baud, g(sl, "paced"),
                 "the line", line_rate, "lines/s")
        self.row("one-letter lines, wrong characters", g(sl, "wrong"), "goal", 0, "", False)
        self.row("VmRSS after %d lines (MB)" % self.a.rss_lines, g(pr, "end"), "goal", 80, "MB", False)
        self.row("VmRSS growth, line %d to %d (MB)" % (self.a.rss_lines // 2, self.a.rss_lines),
                 g(pr, "growth"), "goal", 10, "MB", False)
        self.row("start-up to window shown (ms)", ps, "xterm", xterm_start, "ms", False)
        self.row("start-up to window shown (ms)", ps, "goal", 300, "ms", False)
        # Wine is not Windows: its figures say so in every row.
        wg = lambda k, f: wn[k][f] if wn and wn.get(k) else None
        win_target = "under Wine, Win32 window at %d bit/s (chars/s)" % self.a.baud
        self.row(win_target, wg("parvelo_paced", "cps"), "the line", wn["line_cps"] if wn else None, "chars/s")
        self.row(win_target, wg("parvelo_paced", "cps"), "SendInput anchor", wg("anchor_paced", "cps"),
                 "chars/s")
        self.row("under Wine, wrong characters", wg("parvelo_paced", "wrong"), "SendInput anchor",
                 wg("anchor_paced", "wrong"), "", False)
        self.row("under Wine, latency median (ms)", wg("parvelo_latency", "median"), "SendInput anchor",
                 wg("anchor_latency", "median"), "ms", False)
        self.row("under Wine, latency p99 (ms)", wg("parvelo_latency", "p99"), "SendInput anchor",
                 wg("anchor_latency", "p99"), "ms", False)
        if self.missing:
            log("")
            log("NOT MEASURED:")
            for m in self.missing:
                log("  " + m)
        return 1 if self.missing else 0


def log_run_details(r):
    q = r.get("quarters")
    extra = []
    if q:
        extra.append("by quarter of the bytes %s chars/s" % " / ".join("%.0f" % x for x in q))
    if "syscw" in r:
        extra.append("Parvelo write calls %d (%d bytes)" % (r["syscw"], r["wchar"]))
    if "busy_pct" in r:
        extra.append("machine %.0f %% busy" % r["busy_pct"])
    if extra:
        log("    " + "; ".join(extra))


def log_paced(r, lines, baud):
    cps = line_cps(lines, baud)
    log("    the line carries %.0f typed chars/s (%.2f s for all); Parvelo delivered %.0f chars/s (%.3f of it)" %
        (cps, typed_chars(lines) / cps, r["cps"], r["cps"] / cps))
    g = r.get("lag")
    if g:
        log("    lag CR sent -> line in the file, %d lines: median %.1f ms, p99 %.1f ms, max %.1f ms; "
            "first tenth %.1f ms, last tenth %.1f ms, last line %.1f ms" %
            (g["n"], g["median"] * 1e3, g["p99"] * 1e3, g["max"] * 1e3, g["first10"] * 1e3,
             g["last10"] * 1e3, g["end"] * 1e3))
    log_run_details(r)


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
    ap.add_argument("--only", help="comma list of: anchors,calc-anchors,startup,xterm,journal,calc,latency,rss,short,wine")
    ap.add_argument("--short-lines", type=int, default=20000)
    ap.add_argument("--xdotool-lines", type=int, default=100)
    ap.add_argument("--libxdo-lines", type=int, default=1000)
    ap.add_argument("--parvelo-lines", type=int, default=5000)
    ap.add_argument("--calc-lines", type=int, default=2000)
    ap.add_argument("--journal-lines", type=int, default=5000)
    ap.add_argument("--journal-pairs", type=int, default=3, help="journal on/off runs, as fast as the pty takes")
    ap.add_argument("--journal-paced-pairs", type=int, default=1, help="journal on/off runs paced at --baud")
    ap.add_argument("--journal-off-first", action="store_true",
                    help="start each on/off pair with the journal off, to see whether the order matters")
    ap.add_argument("--baud", type=int, default=115200)
    ap.add_argument("--latency-lines", type=int, default=200)
    ap.add_argument("--xdotool-latency-lines", type=int, default=30)
    ap.add_argument("--idle-secs", type=float, default=10.0)
    ap.add_argument("--rss-lines", type=int, default=1000000)
    ap.add_argument("--rss-timeout", type=float, default=1500)
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
