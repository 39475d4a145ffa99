#!/usr/bin/env python3
"""Installs the package on this machine as a user would (apt-get install
./parvelo_....deb), starts /usr/bin/parvelo, finds its window and has Help >
Manual find the installed manual, then purges the package and checks that
nothing of it is left but the user's settings. Runs under
tests/e2e/xsession.sh, as root (CI is); skipped (77) otherwise, or when a
parvelo package that this test did not install is there already.

The machine's packages are left as they were, whatever happens: the
package is purged in a finally block, on SIGTERM too, and a run that was
killed outright is cleaned up by the next one (a marker file says that the
installed package is this test's).

usage: test_install.py DEB_DIR"""

import glob
import os
import signal
import subprocess
import sys
import tempfile
from urllib.parse import unquote

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from parvelo_session import check, close_window, key, run_cases, sh, wait_for  # noqa: E402

SKIP = 77
MARKER = "/var/tmp/parvelo-install-test.installed"
MANUAL = "/usr/share/doc/parvelo/Parvelo Manual.pdf"
APT = ["apt-get", "-y", "-o", "DPkg::Lock::Timeout=300", "-o", "Dpkg::Use-Pty=0"]
ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")


def installed():
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "parvelo"], capture_output=True,
                       text=True)
    return r.returncode == 0 and "not-installed" not in r.stdout and r.stdout.strip() != ""


def purge():
    if installed():
        subprocess.run(APT + ["purge", "parvelo"], env=ENV, check=True, capture_output=True,
                       timeout=600)
    if os.path.exists(MARKER):
        os.remove(MARKER)


def main():
    deb = sorted(glob.glob(os.path.join(sys.argv[1], "parvelo_*.deb")))
    if not deb:
        print(f"FAIL: no parvelo_*.deb in {sys.argv[1]}")
        return 1
    deb = os.path.abspath(deb[-1])
    if os.geteuid() != 0:
        print("skipped: installing a package needs root")
        return SKIP
    if installed() and not os.path.exists(MARKER):
        print("skipped: a parvelo package is installed on this machine; it is left alone")
        return SKIP
    purge()  # what a killed run of this test left
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = tempfile.mkdtemp(prefix="parvelo-install-")
    files = []

    def install():
        with open(MARKER, "w") as f:
            f.write(deb + "\n")
        # No recommends: nothing is fetched, everything it depends on is here.
        r = subprocess.run(APT + ["install", "--no-install-recommends", deb], env=ENV,
                           capture_output=True, text=True, timeout=600)
        check(r.returncode == 0, f"apt-get install failed: {r.stdout[-2000:]}{r.stderr[-2000:]}")
        files.extend(sh("dpkg-query", "-L", "parvelo").stdout.splitlines())
        for path in ("/usr/bin/parvelo", MANUAL, "/usr/share/icons/hicolor/scalable/apps/parvelo.svg"):
            check(path in files and os.path.isfile(path), f"{path} is not installed")
        check(any(p.startswith("/usr/share/applications/") for p in files), "no desktop entry")
        return f"{len(files)} paths"

    def start():
        # The opener that Help > Manual calls, noting what it was given.
        bin_dir = os.path.join(work, "bin")
        os.makedirs(bin_dir)
        opened = os.path.join(work, "opened.txt")
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{opened}"\n')
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        env = dict(os.environ, XDG_CONFIG_HOME=work, XDG_DATA_HOME=work, LANG="C.UTF-8",
                   PATH=bin_dir + os.pathsep + os.environ["PATH"])
        proc = subprocess.Popen(["parvelo"], env=env)
        try:
            wid = wait_for(lambda: sh("xdotool", "search", "--onlyvisible", "--pid",
                                      str(proc.pid), "--name", "^Parvelo$",
                                      check=False).stdout.split(), 20, "Parvelo's window")[0]
            sh("xdotool", "windowactivate", "--sync", wid, check=False)
            key("alt+h")
            wait_for(lambda: True, 0.5)
            key("m")
            wait_for(lambda: os.path.exists(opened), 10, "Help > Manual to call xdg-open")
            with open(opened) as f:
                got = unquote(f.read().split("\n")[0]).removeprefix("file://")
            check(got == MANUAL, f"Help > Manual opened {got!r}")
            close_window(wid)
            proc.wait(10)
        finally:
            if proc.poll() is None:
                proc.kill()
        check(os.path.exists(os.path.join(work, "Parvelo", "Parvelo.conf")),
              "no settings were saved at exit")
        return f"window {wid}; Help > Manual opened {got}"

    def remove():
        purge()
        check(not installed(), "parvelo is still installed")
        left = [p for p in files if os.path.lexists(p) and not os.path.isdir(p)]
        left += [p for p in files if "parvelo" in p.lower() and os.path.isdir(p)]
        check(not left, f"left behind: {left}")
        check(os.path.exists(os.path.join(work, "Parvelo", "Parvelo.conf")),
              "the user's settings went with the package")
        return "nothing left but the user's settings"

    try:
        status = 0
        for name, case in (("install", install), ("start", start), ("remove", remove)):
            status = run_cases([(name, case)], [])
            if status:
                break
        return status
    finally:
        purge()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main())
