#!/usr/bin/env python3
"""Started where there is no display (an SSH session, a console), or with
one that cannot be opened, Parvelo says so in its own words and what to do,
and ends with a non-zero status before Qt looks for a platform plugin.

usage: test_no_display.py PARVELO_EXE"""

import os
import subprocess
import sys


def run(exe, env, args=()):
    p = subprocess.run([exe, *args], env=env, capture_output=True, text=True, timeout=20)
    return p.returncode, p.stderr


def main():
    exe = sys.argv[1]
    base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    cases = [
        ("no display", base, "there is no display here"),
        # A display number no server has: nothing listens on it.
        ("a display that cannot be opened", dict(base, DISPLAY=":4711"),
         "the display :4711 cannot be opened"),
    ]
    failed = 0
    for name, env, said in cases:
        status, err = run(exe, env)
        good = (status != 0 and said in err and "desktop session" in err
                and "platform plugin" not in err)
        print(f"{'PASS' if good else 'FAIL'} {name}: status {status}, {err.strip()!r}")
        failed += not good
    # A profile names a settings file: a name that would leave the folder is
    # refused before anything is read or written.
    status, err = run(exe, base, ["--profile", "../elsewhere"])
    good = status == 2 and "cannot name a profile" in err
    print(f"{'PASS' if good else 'FAIL'} profile name: status {status}, {err.strip()!r}")
    return 1 if failed or not good else 0


if __name__ == "__main__":
    sys.exit(main())
