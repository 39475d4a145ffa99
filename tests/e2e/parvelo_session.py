"""Helpers for end-to-end tests: a throw-away settings folder, a
pseudo-terminal standing in for the serial line, Parvelo started on the
current display and driven with real key presses through xdotool."""

import configparser
import ctypes
import functools
import os
import pty
import signal
import subprocess
import tempfile
import time
import traceback
import tty


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Skipped(Exception):
    """A case that cannot run here, with the reason."""


def run_cases(cases, only):
    """Runs (name, function) cases, those named in only if any; a failed
    case does not stop the others. Returns the exit status: 1 when one
    failed, 77 (skipped, for CTest) when every case that ran was skipped."""
    failures = passes = skips = 0
    for name, run in cases:
        if only and name not in only:
            continue
        started = time.monotonic()
        try:
            print(f"PASS {name}: {run()} ({time.monotonic() - started:.1f} s)")
            passes += 1
        except Skipped as e:
            skips += 1
            print(f"SKIP {name}: {e}")
        except Exception as e:  # noqa: BLE001
            failures += 1
            if not isinstance(e, Failed):
                traceback.print_exc()
            print(f"FAIL {name}: {e} ({time.monotonic() - started:.1f} s)")
    if failures:
        return 1
    return 77 if skips and not passes else 0


def unescape(text: bytes) -> bytes:
    """A journal field back to the bytes it stands for."""
    out = bytearray()
    i = 0
    simple = {ord("t"): 9, ord("r"): 13, ord("n"): 10, ord("\\"): 92}
    while i < len(text):
        c = text[i]
        if c == 92 and i + 1 < len(text) and text[i + 1] in simple:
            out.append(simple[text[i + 1]])
            i += 2
        elif c == 92 and i + 3 < len(text) and text[i + 1] == ord("x"):
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(c)
            i += 1
    return bytes(out)


READ_BACK_NOTE = "Parvelo cannot read back what lands in this target:".encode()


def read_journal(data_home):
    """The journal's records under an XDG_DATA_HOME, oldest first, as (time,
    port, id, event, text) with text unescaped to bytes (the "day" and
    "started" records that open a day's file and a run included)."""
    folder = os.path.join(data_home, "Parvelo", "journal")
    records = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name), "rb") as f:
            for line in f.read().split(b"\n"):
                fields = line.split(b"\t")
                # A sixth field, the hash chaining the records, is left out.
                if len(fields) in (5, 6):
                    t, port, rid, event, text = fields[:5]
                    records.append((t.decode(), port.decode(), rid.decode(), event.decode(),
                                    unescape(text)))
    return records


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


@functools.lru_cache(maxsize=None)
def _xlib():
    """libX11 through ctypes, set up once. A window may go while a tree is
    walked (a closing dialog's frame): Xlib's default error handler would end
    the test for that, so errors are ignored and the walk just stops."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.ignore_errors = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
        lambda display, event: 0)
    x.XSetErrorHandler(x.ignore_errors)
    return x


def pointer_state():
    """What the X server says of the pointer now: the modifiers and mouse
    buttons held down, and the windows under it, outermost (the window
    manager's frame) first."""
    x = _xlib()
    dpy = x.XOpenDisplay(None)
    if not dpy:
        return [], []
    win, child = ctypes.c_ulong(x.XDefaultRootWindow(dpy)), ctypes.c_ulong()
    ints = [ctypes.c_int() for _ in range(4)]
    mask = ctypes.c_uint()
    under = []
    while x.XQueryPointer(ctypes.c_void_p(dpy), win, ctypes.byref(ctypes.c_ulong()),
                          ctypes.byref(child), *[ctypes.byref(i) for i in ints],
                          ctypes.byref(mask)) and child.value:
        under.append(child.value)
        win = ctypes.c_ulong(child.value)
    x.XCloseDisplay(ctypes.c_void_p(dpy))
    names = ["Shift", "Lock", "Control", "Alt", "Mod2", "Mod3", "Mod4", "Mod5",
             "Button1", "Button2", "Button3", "Button4", "Button5"]
    return [n for i, n in enumerate(names) if mask.value & (1 << i)], under


def twips(value):
    """Pixels for a length in twips, as the program lays out its windows."""
    return (value + 7) // 15


def window_size(wid):
    r = sh("xdotool", "getwindowgeometry", wid, check=False)
    for line in r.stdout.splitlines():
        if "Geometry:" in line:
            w, h = line.split()[-1].split("x")
            return int(w), int(h)
    return None


def close_window(wid):
    """Asks the window manager to close a window, as its close box does."""
    sh("wmctrl", "-i", "-c", hex(int(wid)))


def pid_alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def group_members(pgid):
    """Live processes (not zombies) of a process group."""
    members = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and int(fields[2]) == pgid:
            members.append(int(pid))
    return members


def read_pid(pidfile):
    try:
        with open(pidfile) as f:
            return int(f.read())
    except (OSError, ValueError):
        return None


def end_group(pidfile, timeout=10):
    """Ends a target started through a script that wrote its PID to pidfile.
    Parvelo starts targets in a session of their own, so that PID is their
    process group: this ends only what the test started, never a program of
    the user's that merely looks alike."""
    pgid = read_pid(pidfile)
    if pgid:
        end_process_group(pgid, timeout)


def end_process_group(pgid, timeout=10):
    """Ends the processes of a group the test started: SIGTERM, then SIGKILL."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        if not group_members(pgid):
            return
        try:
            os.killpg(pgid, sig)
        except ProcessLookupError:
            return
        try:
            wait_for(lambda: not group_members(pgid), timeout, f"process group {pgid} to end")
            return
        except AssertionError:
            pass


def holders_of(path):
    """PIDs of the processes that hold path open."""
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                    pids.append(int(pid))
                    break
            except OSError:
                pass
    return pids


def target_script(workdir, name, body):
    """A shell script for Software Execution to start (it takes no
    arguments): body is the script's text after #!/bin/sh."""
    path = os.path.join(workdir, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    return path


class CatTarget:
    """A target program for Software Execution: an xterm that runs
    `cat > out`, at a fixed place on the screen so that it never covers the
    main window. The script records the xterm's PID (it execs xterm)."""

    def __init__(self, workdir, name="target", geometry="+0+0"):
        self.name = name
        self.out = os.path.join(workdir, f"{name}.txt")
        self.pidfile = os.path.join(workdir, f"{name}.pid")
        self.script = os.path.join(workdir, f"{name}.sh")
        for path in (self.out, self.pidfile):
            if os.path.exists(path):
                os.remove(path)
        with open(self.script, "w") as f:
            f.write("#!/bin/sh\n"
                    f"echo $$ > {self.pidfile}\n"
                    f"exec xterm -u8 -geometry {geometry} -title {name} "
                    f"-e sh -c 'stty -echo -icanon; exec cat > {self.out}' >/dev/null 2>&1\n")
        os.chmod(self.script, 0o755)
        self.process = None

    def start(self):
        """Starts the xterm directly (for windows that Parvelo does not launch)."""
        self.process = subprocess.Popen([self.script], stdout=subprocess.DEVNULL)
        self.wait_ready()

    def wait_ready(self):
        try:
            wait_for(lambda: os.path.exists(self.out), 15, f"{self.name} xterm to run cat")
        except AssertionError as e:
            # Seen once in thirty starts and not reproduced: say how far it got.
            pid = self.pid()
            started = "never started" if pid is None else (
                f"PID {pid} {'runs' if pid_alive(pid) else 'has ended'}")
            raise AssertionError(f"{e}; the script {started}") from None
        self.window = find_window(f"^{self.name}$")
        return self

    def pid(self):
        try:
            with open(self.pidfile) as f:
                return int(f.read())
        except (OSError, ValueError):
            return None

    def data(self):
        with open(self.out, "rb") as f:
            return f.read()

    def wait_data(self, expected: bytes, timeout=20):
        """Waits until the file holds at least as much as expected; returns it."""
        try:
            wait_for(lambda: len(self.data()) >= len(expected), timeout, f"text in {self.name}")
        except AssertionError:
            pass
        time.sleep(0.1)
        return self.data()

    def stop(self):
        pid = self.pid()
        if pid and pid_alive(pid):
            os.kill(pid, signal.SIGTERM)
            wait_for(lambda: not pid_alive(pid), 5, f"{self.name} xterm to end")
        if self.process:
            self.process.wait(5)


class SerialLine:
    """The master side of a pty; Parvelo opens the slave as Com1."""

    def __init__(self):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.slave_path = os.ttyname(slave)
        os.close(slave)

    def send(self, data: bytes):
        # A pty takes a few KiB at a time; the rest waits for the reader.
        while data:
            data = data[os.write(self.master, data):]

    def hang_up(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None


class PluggableLine(SerialLine):
    """A serial line that can be pulled out and plugged in again, as a USB
    adapter is: Parvelo opens a fixed link to a pty, and a folder of its own
    stands for /dev/serial/by-id with the adapter's serial name. Unplugging
    closes the master (the pty's node goes with it) and removes the links;
    plugging makes a new pty behind the same link."""

    def __init__(self, folder, name):
        self.by_id = os.path.join(folder, "by-id")
        os.makedirs(self.by_id, exist_ok=True)
        self.slave_path = os.path.join(folder, "ttyUSB0")
        self.master = None
        self.plug(name)

    def plug(self, name):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.node = os.ttyname(slave)
        os.close(slave)
        os.symlink(self.node, os.path.join(self.by_id, name))
        os.symlink(self.node, self.slave_path)

    def unplug(self):
        self.hang_up()
        os.remove(self.slave_path)
        for name in os.listdir(self.by_id):
            os.remove(os.path.join(self.by_id, name))

    def environment(self):
        return {"PARVELO_SERIAL_BY_ID": self.by_id}


class Parvelo:
    def __init__(self, exe, settings: dict, serial: SerialLine, profile=None, config=None,
                 env=None):
        """profile: started with --profile, its settings in a file of their
        own; config: a settings folder shared with another instance; env:
        more environment."""
        self.profile = profile
        self.config = config or tempfile.mkdtemp(prefix="parvelo-e2e-")
        os.makedirs(os.path.join(self.config, "Parvelo"), exist_ok=True)
        settings = dict(settings)
        settings.setdefault("Ports", {})["Com1"] = serial.slave_path
        with open(self.settings_file, "w") as f:
            for section, values in settings.items():
                f.write(f"[{section}]\n")
                for k, v in values.items():
                    f.write(f'{k}="{v}"\n')
        extra_env = env or {}
        # The journal goes to the same throw-away folder.
        env = dict(os.environ, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=self.config,
                   LANG="C.UTF-8")
        env.update(getattr(serial, "environment", dict)())
        env.update(extra_env)
        self.proc = subprocess.Popen([exe] + (["--profile", profile] if profile else []), env=env)
        self.window = wait_for(self._main_window, 20, "window ^Parvelo$")

    def _main_window(self):
        r = sh("xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid), "--name",
               "^Parvelo$", check=False)
        ids = r.stdout.split()
        return ids[-1] if ids else None

    @property
    def settings_file(self):
        name = f"Parvelo-{self.profile}.conf" if self.profile else "Parvelo.conf"
        return os.path.join(self.config, "Parvelo", name)

    def stored_settings(self):
        """The settings file as sections of text values (quotes removed)."""
        parser = configparser.RawConfigParser()
        parser.optionxform = str
        parser.read(self.settings_file, encoding="utf-8")
        return {section: {k: v[1:-1] if len(v) >= 2 and v[0] == v[-1] == '"' else v
                          for k, v in parser.items(section)}
                for section in parser.sections()}

    def click_button(self, top_twips, left_twips=4920 + 1695 // 2):
        """Clicks Read Start (top 600) or Stop (top 1560) with the mouse, or
        another place of the client area. The place follows from the twip
        layout: below the menu bar, whose height is what the window has
        beyond the fixed client area and status bar."""
        size = window_size(self.window)
        if not size:
            raise AssertionError("main window has no geometry")
        menu_bar = size[1] - twips(3495 - 315) - twips(315)
        x = twips(left_twips)
        y = menu_bar + twips(top_twips) + twips(615) // 2
        sh("xdotool", "mousemove", "--window", self.window, str(x), str(y))
        # As a user does, click once the window is under the pointer: a
        # dialog's frame outlives the dialog until the window manager gets
        # to it, and a click on the frame never reaches the window. Under
        # XWayland the X server may see no window under the pointer at all
        # (a native window is on top): nothing of X's can take the click then.
        def clear():
            under = pointer_state()[1]
            return not under or int(self.window) in under
        wait_for(clear, 10, "the main window under the pointer")
        sh("xdotool", "click", "1")

    def click_log(self):
        """A click into the log: takes the focus and changes nothing."""
        self.click_button(600, 600)

    def click_stop(self):
        self.click_button(1560)  # Stop has no access key

    def click_read_start(self):
        self.click_button(600)

    def focus(self):
        if os.environ.get("SWAYSOCK"):
            # sway gives XWayland windows the keyboard only by its own
            # decision: an X client's request for the focus is not one.
            sh("swaymsg", f'[pid={self.proc.pid} title="^Parvelo"] focus', check=False)
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

    def windows(self):
        """Parvelo's visible windows and their titles, which is active, and
        the modifiers and buttons held down: what a failed click is
        explained by (a held Alt makes a click the window manager's)."""
        r = sh("xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid), check=False)
        active = sh("xdotool", "getactivewindow", check=False).stdout.strip()
        return {"visible": [(w, window_name(w)) for w in r.stdout.split()], "active": active,
                "held": pointer_state()[0]}

    def title(self):
        return window_name(self.window)

    def journal(self):
        return read_journal(self.config)

    def save_log(self, path, read_back_note=False):
        """File > Log Save with access keys, the path typed into the dialog;
        returns the saved bytes. Only possible while no run is active.
        The note that a target cannot be read back comes whenever the
        desktop answers, between any two lines: left out unless asked for,
        for tests of other things (the file keeps it)."""
        if os.path.exists(path):
            os.remove(path)
        self.focus()
        key("alt+f")
        time.sleep(0.4)
        key("s")
        wait_for(lambda: self._dialog(), 10, "Save As dialog")
        time.sleep(0.4)
        sh("xdotool", "type", "--delay", "20", path)
        time.sleep(0.2)
        key("Return")
        wait_for(lambda: os.path.exists(path), 10, "saved log")
        wait_for(lambda: not self._dialog(), 10, "Save As dialog to close")
        with open(path, "rb") as f:
            saved = f.read()
        if read_back_note:
            return saved
        return b"".join(line for line in saved.splitlines(keepends=True)
                        if not line.lstrip(b"\xef\xbb\xbf").startswith(READ_BACK_NOTE))

    def rss_kb(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def wait_exit(self, timeout):
        """Seconds until the process ended, or None if it still runs."""
        started = time.monotonic()
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        return time.monotonic() - started

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


def start_reading(exe, workdir, serial, target, extra_settings=None, **options):
    """Parvelo with serial as Com1: Software Execution launches target (a
    CatTarget) and the run starts. options go to Parvelo (profile, config).
    Returns the Parvelo; closes both if the run does not start."""
    settings = {"Settings": {"ExeFileName": target.script, "OpenPathName": workdir}}
    for section, values in (extra_settings or {}).items():
        settings.setdefault(section, {}).update(values)
    app = Parvelo(exe, settings, serial, **options)
    try:
        app.software_execution()
        target.wait_ready()
        wait_for(lambda: app.title() == "Parvelo[Reading]", 10, "reading state")
    except Exception:
        app.close()
        target.stop()
        raise
    return app
