"""Helpers for end-to-end tests: a throw-away settings folder, a
pseudo-terminal standing in for the serial line, Parvelo started on the
current display and driven with real key presses through xdotool."""

import os
import pty
import subprocess
import tempfile
import time
import tty


def sh(*args, check=True, timeout=30):
    return subprocess.run(args, check=check, timeout=timeout, capture_output=True, text=True)


def wait_for(predicate, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


def find_window(name_regex, timeout=20.0):
    def search():
        r = sh("xdotool", "search", "--onlyvisible", "--name", name_regex, check=False)
        ids = r.stdout.split()
        return ids[-1] if ids else None
    return wait_for(search, timeout, f"window {name_regex}")


def window_name(wid):
    return sh("xdotool", "getwindowname", wid, check=False).stdout.strip()


def key(*keys, window=None):
    args = ["xdotool", "key", "--clearmodifiers"]
    if window:
        args += ["--window", window]
    sh(*args, *keys)


class SerialLine:
    """The master side of a pty; Parvelo opens the slave as Com1."""

    def __init__(self):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.slave_path = os.ttyname(slave)
        os.close(slave)

    def send(self, data: bytes):
        os.write(self.master, data)

    def hang_up(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None


class Parvelo:
    def __init__(self, exe, settings: dict, serial: SerialLine):
        self.config = tempfile.mkdtemp(prefix="parvelo-e2e-")
        os.makedirs(os.path.join(self.config, "Parvelo"))
        settings = dict(settings)
        settings.setdefault("Ports", {})["Com1"] = serial.slave_path
        with open(os.path.join(self.config, "Parvelo", "Parvelo.conf"), "w") as f:
            for section, values in settings.items():
                f.write(f"[{section}]\n")
                for k, v in values.items():
                    f.write(f'{k}="{v}"\n')
        env = dict(os.environ, XDG_CONFIG_HOME=self.config, LANG="C.UTF-8")
        self.proc = subprocess.Popen([exe], env=env)
        self.window = find_window("^Parvelo$")

    def focus(self):
        sh("xdotool", "windowactivate", "--sync", self.window, check=False)
        time.sleep(0.2)

    def software_execution(self):
        """Alt+A, then Enter in the file dialog: the proposed program starts."""
        self.focus()
        key("alt+a")
        dialog = wait_for(lambda: self._dialog(), 10, "file dialog")
        time.sleep(0.3)
        key("Return", window=None)
        wait_for(lambda: not self._dialog(), 10, "file dialog to close")
        del dialog

    def _dialog(self):
        r = sh("xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid), check=False)
        for wid in r.stdout.split():
            if wid != self.window and window_name(wid) not in ("", "Parvelo"):
                return wid
        return None

    def title(self):
        return window_name(self.window)

    def open_fds(self):
        try:
            return [os.readlink(f"/proc/{self.proc.pid}/fd/{fd}")
                    for fd in os.listdir(f"/proc/{self.proc.pid}/fd")]
        except OSError:
            return []

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        subprocess.run(["rm", "-rf", self.config])
