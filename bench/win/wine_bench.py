#!/usr/bin/env python3
"""The Windows build's figures under Wine, on this machine: characters a
second typed into a Win32 window (winkeyrecorder.exe) with the serial line
paced at --baud, against what the line carries, and the latency from a CR
on the line to the Return in that window. Beside parvelo.exe, the same
figures of sendinput_anchor.exe (a bare ReadFile + SendInput loop).

Wine is not Windows: these are figures under Wine. Runs in an X session
without a window manager (tests/e2e/xsession.sh --no-wm), where Wine handles
focus as Windows does, and in a Wine prefix of its own. Prints the figures
and, with --json, writes them for bench.py; a figure that could not be
taken is null, its reason in "missing".

  tests/e2e/xsession.sh --no-wm python3 bench/win/wine_bench.py --build build [--json OUT]"""

import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from bench import corpus, line_cps, read_returns, read_text, typed_chars, wrong_chars  # noqa: E402
from parvelo_session import find_window, key, sh, wait_for  # noqa: E402

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")
CXX = "x86_64-w64-mingw32-g++-posix"


class NotMeasured(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ini_quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def realtime_to_monotonic_ns():
    """What to subtract from a real-time stamp to put it on CLOCK_MONOTONIC
    (the clock of vinstrument's --log-cr); the narrowest of a few samples."""
    best = None
    for _ in range(20):
        a = time.monotonic_ns()
        r = time.time_ns()
        b = time.monotonic_ns()
        if best is None or b - a < best[0]:
            best = (b - a, r - (a + b) // 2)
    return best[1]


class WineBench:
    def __init__(self, args):
        self.a = args
        self.tmp = tempfile.mkdtemp(prefix="parvelo-wine-bench.")
        self.prefix = os.path.join(self.tmp, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree=;mshtml=", LANG="C.UTF-8")
        self.procs = []
        self.offset = realtime_to_monotonic_ns()

    def wine(self, *args, timeout=120):
        return subprocess.run([WINE, *args], env=self.env, timeout=timeout, capture_output=True)

    def start(self, *args, env=None, stdout=subprocess.DEVNULL):
        p = subprocess.Popen(list(args), env=env or self.env, stdout=stdout,
                             stderr=subprocess.DEVNULL, text=True)
        self.procs.append(p)
        return p

    def server(self, *args):
        subprocess.run([WINESERVER, *args], env=self.env, timeout=120, check=False)

    def cleanup(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        self.server("-k")
        self.server("-w")
        shutil.rmtree(self.tmp, ignore_errors=True)

    def setup(self):
        for name, flags in (("winkeyrecorder", ["-mwindows"]), ("sendinput_anchor", [])):
            subprocess.run([CXX, "-O2", "-static", "-municode", "-DUNICODE", "-D_UNICODE", *flags,
                            "-o", os.path.join(self.tmp, name + ".exe"),
                            os.path.join(HERE, name + ".cpp")], check=True, timeout=300)
        self.wine("wineboot", "--init", timeout=300)
        self.server("-w")
        r = subprocess.run([WINE, "--version"], capture_output=True, text=True, timeout=30)
        self.version = r.stdout.strip() or "Wine"

    def instrument(self, lines, name, paced):
        """A vinstrument pty as COM1; the prefix's server restarts to see it."""
        text = os.path.join(self.tmp, name + ".txt")
        with open(text, "w") as f:
            f.write("".join(line + "\n" for line in lines))
        crlog = os.path.join(self.tmp, name + "-cr.log")
        pace = ["--baud", str(self.a.baud)] if paced else ["--rate", "10"]
        inst = self.start(os.path.join(self.a.build, "vinstrument"), "--kind", "text", text,
                          "--ending", "crlf", "--wait-signal", "--hold", "--log-cr", crlog, *pace,
                          env=os.environ, stdout=subprocess.PIPE)
        pty = inst.stdout.readline().strip()
        self.server("-k")
        self.server("-w")
        r = self.wine("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/t", "REG_SZ",
                      "/d", pty, "/f")
        if r.returncode != 0:
            raise NotMeasured("could not map COM1 to the pty")
        self.server("-k")
        self.server("-w")
        return inst, crlog

    def recorder_env(self, keylog):
        return dict(self.env, KEYRECORDER_OUT=windows_path(keylog))

    def run_anchor(self, keylog):
        self.start(WINE, os.path.join(self.tmp, "winkeyrecorder.exe"), env=self.recorder_env(keylog))
        find_window("^Key recorder$", 60)
        wait_for(lambda: os.path.exists(keylog), 20, "the recorder's log")
        time.sleep(0.5)
        self.start(WINE, os.path.join(self.tmp, "sendinput_anchor.exe"), "COM1", str(self.a.baud))
        time.sleep(2.0)

    def run_parvelo(self, keylog):
        exe = os.path.join(self.a.parvelo, "parvelo.exe")
        if not os.path.isfile(exe):
            raise NotMeasured(f"{exe} not found (tools/windows.sh lays it out)")
        users = [u for u in os.listdir(os.path.join(self.prefix, "drive_c", "users"))
                 if u != "Public"]
        settings = os.path.join(self.prefix, "drive_c", "users", users[0], "AppData", "Roaming",
                                "Parvelo", "Parvelo.conf")
        os.makedirs(os.path.dirname(settings), exist_ok=True)
        with open(settings, "w", encoding="utf-8") as f:
            f.write("[Settings]\n"
                    f"ExeFileName={ini_quoted(windows_path(os.path.join(self.tmp, 'winkeyrecorder.exe')))}\n"
                    f"OpenPathName={ini_quoted(windows_path(self.tmp) + chr(92))}\n"
                    f"[Properties]\nSettings=\"{self.a.baud},n,8,1\"\nCommPort=1\nHandshaking=0\n")
        self.start(WINE, exe, env=self.recorder_env(keylog))
        find_window("^Parvelo", 90)
        time.sleep(1.0)
        key("alt+a")  # Software Execution; its file dialog proposes the recorder
        time.sleep(1.5)
        key("Return")
        find_window("^Key recorder$", 60)
        wait_for(lambda: os.path.exists(keylog), 20, "the recorder's log")
        time.sleep(2.0)

    def measure(self, who, paced):
        """One run; for paced, chars/s over the whole run; else latencies."""
        n = self.a.lines if paced else self.a.latency_lines
        lines = corpus(n)
        name = f"{who}-{'paced' if paced else 'latency'}"
        keylog = os.path.join(self.tmp, name + "-keys.log")
        inst, crlog = self.instrument(lines, name, paced)
        try:
            (self.run_parvelo if who == "parvelo" else self.run_anchor)(keylog)
            t0 = time.monotonic_ns()
            inst.send_signal(signal.SIGUSR1)
            limit = time.monotonic() + n * 22 * 10 / self.a.baud + n / 10 + self.a.timeout
            returns = []
            while time.monotonic() < limit:
                returns = read_returns(keylog)
                if len(returns) >= n:
                    break
                time.sleep(0.2)
        finally:
            inst.kill()
            inst.wait()
            self.server("-k")
            self.server("-w")
        want = "".join(line + "\r" for line in lines)
        wrong = wrong_chars(want, read_text(keylog))
        if not returns:
            raise NotMeasured(f"{name}: no Return reached the recorder")
        returns = [r - self.offset for r in returns]
        if paced:
            secs = (returns[-1] - t0) / 1e9
            cps = typed_chars(lines[:len(returns)]) / secs
            print(f"  {name}: {len(returns)} of {n} lines in {secs:.2f} s = {cps:.0f} chars/s, "
                  f"{wrong} wrong chars; the line carries {line_cps(lines, self.a.baud):.0f}")
            return {"cps": cps, "wrong": wrong, "lines": len(returns)}
        crs = [int(line.split()[0]) for line in open(crlog)]
        k = min(len(crs), len(returns))
        in_order = [(returns[i] - crs[i]) / 1e6 for i in range(k)]
        slow = [f"#{i + 1} {ms:.0f} ms" for i, ms in enumerate(in_order) if ms > 100]
        if slow:
            print(f"  {name}: lines over 100 ms: {', '.join(slow[:10])}")
        lat = sorted(in_order)
        med, p99 = statistics.median(lat), lat[min(k - 1, int(round(0.99 * (k - 1))))]
        print(f"  {name}: {k} lines, {wrong} wrong chars: CR -> Return median {med:.2f} ms, "
              f"p99 {p99:.2f} ms, max {lat[-1]:.2f} ms")
        return {"median": med, "p99": p99, "wrong": wrong}

    def run(self):
        self.setup()
        print(f"Under Wine ({self.version}; not Windows): typing into a Win32 window, "
              f"COM1 a vinstrument pty")
        out = {"wine": self.version, "baud": self.a.baud, "line_cps": line_cps(corpus(self.a.lines), self.a.baud),
               "missing": []}
        for who in ("anchor", "parvelo"):
            for paced in (True, False):
                k = f"{who}_{'paced' if paced else 'latency'}"
                try:
                    out[k] = self.measure(who, paced)
                except (NotMeasured, AssertionError, subprocess.SubprocessError) as e:
                    out[k] = None
                    out["missing"].append(f"under Wine, {k}: {e}")
                    print(f"  {k}: not measured: {e}")
        return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--parvelo", help="the laid-out folder (default BUILD/win/Parvelo)")
    ap.add_argument("--baud", type=int, default=115200)
    ap.add_argument("--lines", type=int, default=2000)
    ap.add_argument("--latency-lines", type=int, default=200)
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--json")
    args = ap.parse_args()
    args.build = os.path.abspath(args.build)
    args.parvelo = args.parvelo or os.path.join(args.build, "win", "Parvelo")
    b = WineBench(args)
    try:
        out = b.run()
    finally:
        b.cleanup()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(out, f)
    return 1 if out["missing"] else 0


if __name__ == "__main__":
    sys.exit(main())
