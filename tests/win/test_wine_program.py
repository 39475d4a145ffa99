#!/usr/bin/env python3
"""The whole Windows program under Wine, in the X session of
tests/e2e/xsession.sh --no-wm (Wine then handles focus as Windows does), in a
Wine prefix of its own. COM1 is a pty fed by vinstrument; parvelo.exe from the
folder tools/windows.sh lays out starts with a settings file in %APPDATA%,
Software Execution launches Wine's Notepad and the readings (TAB, °, µ, ±,
日本 and a character beyond the BMP) must arrive in it exactly, read back from
Notepad's edit control. Notepad's Open dialog holds the readings until it is
closed; Stop and Read Start; Log Save; the journal under %LOCALAPPDATA% holds
every reading; the settings survive a restart. Screenshots go to SHOTS.

usage: test_wine_program.py PARVELO_FOLDER WINTEXT_EXE VINSTRUMENT SHOTS"""

import glob
import re
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from parvelo_session import (check, find_window, key, read_journal, sh, twips,  # noqa: E402
                             wait_for, window_name, window_size)
from wine_prefix import Wine  # noqa: E402

# What the readings carry besides their number: the characters a keyboard
# layout lacks and one that takes two UTF-16 units.
TAIL = "\t23.5 °C\t5 µm ± 0.1 日本 \U0001D11E"
RATE = 2  # readings a second, fewer than Parvelo types under Wine


def windows_path(path):
    """A Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ini_quoted(text):
    """A value as QSettings' INI reader takes it back."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Editor:
    """Wine's Notepad, read back through its edit control."""

    def __init__(self, wine, wintext, workdir):
        self.wine, self.wintext = wine, wintext
        self.out = os.path.join(workdir, "notepad.txt")

    def text(self):
        if os.path.exists(self.out):
            os.remove(self.out)
        r = self.wine.run(self.wintext, "Notepad", windows_path(self.out), timeout=30)
        if r.returncode != 0:
            return None
        with open(self.out, "rb") as f:
            return f.read().decode("utf-8")


class Program:
    def __init__(self, wine, folder):
        self.wine = wine
        self.proc = wine.start(os.path.join(folder, "parvelo.exe"))
        self.window = find_window("^Parvelo", 90)

    def title(self):
        return window_name(self.window)

    def focus(self):
        """Raises the window and clicks into the log, which changes nothing
        (with no window manager, raising is the X server's, focus Wine's)."""
        sh("xdotool", "windowraise", self.window, check=False)
        time.sleep(0.3)
        self.click(600, 600)
        time.sleep(0.3)

    @staticmethod
    def visible():
        return set(sh("xdotool", "search", "--onlyvisible", "--name", ".",
                      check=False).stdout.split())

    def dialog(self, action, what):
        """Does action; returns the named window it opened."""
        before = self.visible()

        def opened():
            new = [w for w in self.visible() - before if window_name(w)]
            return new[0] if new else None
        action()
        return wait_for(opened, 20, what)

    def aim(self, top_twips, left_twips=4920 + 1695 // 2):
        """Raises the window and puts the pointer on Read Start (top 600) or
        Stop (1560), placed by the twip layout below everything above the
        client area (caption and menu bar)."""
        sh("xdotool", "windowraise", self.window, check=False)
        w, h = window_size(self.window)
        above = h - twips(3495 - 315) - twips(315)
        sh("xdotool", "mousemove", "--window", self.window, str(twips(left_twips)),
           str(above + twips(top_twips) + twips(615) // 2))

    def click(self, top_twips, left_twips=4920 + 1695 // 2):
        self.aim(top_twips, left_twips)
        sh("xdotool", "click", "1")

    def software_execution(self):
        self.focus()
        dialog = self.dialog(lambda: key("alt+a"), "the Software Execution dialog")
        time.sleep(0.5)
        key("Return")
        wait_for(lambda: not window_name(dialog), 20, "the dialog to close")

    def save_log(self, path):
        self.focus()
        dialog = self.dialog(lambda: (key("alt+f"), time.sleep(0.5), key("s")),
                             "the Log Save dialog")
        time.sleep(1.0)
        key("ctrl+a")  # the name the dialog proposes, if any
        sh("xdotool", "type", "--delay", "30", windows_path(path))
        time.sleep(0.3)
        key("Return")
        wait_for(lambda: os.path.exists(path), 20, "the saved log")
        wait_for(lambda: not window_name(dialog), 20, "the Log Save dialog to close")

    def quit(self):
        # As Windows asks a window program to end (WM_CLOSE), without force.
        self.wine.run("taskkill", "/im", "parvelo.exe", timeout=30)
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("parvelo.exe did not end on WM_CLOSE")


def shot(shots, name):
    sh("import", "-window", "root", os.path.join(shots, name + ".png"), check=False)


def received(journal):
    return [r for r in journal if r[3] == "received"]


def typed_pattern(journal, in_flight=(), dropped=()):
    """What the editor must hold: every reading received, each ended by
    Enter (CR LF in an edit control); of a reading that Stop cut short, the
    part typed before it (the journal says "cut"). A reading in flight as a
    dialog of the target opened may have gone into the dialog instead; of a
    reading in dropped, Wine may have dropped the end. Readings still held
    are not there yet.

    Built from the journal, unlike the X11 tests: under Wine, keys Notepad
    has not read yet when it loses the activation are dropped, and Parvelo
    cannot see that until it reads the target back, so its journal calls
    those readings typed. The allowances are bounded below (readings at a
    Stop, one into the dialog, one purged as the port opens) and the sent
    file is checked against the journal; they go once the journal can say
    what landed."""
    outcomes = {r[2]: r[3] for r in journal if r[3] != "received"}
    pattern = ""
    for r in received(journal):
        text = r[4].decode("utf-8")
        if outcomes.get(r[2]) == "held":  # not typed yet
            continue
        if outcomes.get(r[2]) == "cut" or r[2] in dropped:
            prefix = ""
            for c in reversed(text + "\r\n"):
                prefix = "(?:" + re.escape(c) + prefix + ")?"
            pattern += prefix
        elif r[2] in in_flight:
            pattern += "(?:" + re.escape(text + "\r\n") + ")?"
        else:
            pattern += re.escape(text + "\r\n")
    return pattern


def main():
    folder, wintext, vinstrument, shots = sys.argv[1:5]
    os.makedirs(shots, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="parvelo-wine-e2e-")
    wine = Wine(workdir)
    instrument = None
    started = time.monotonic()
    try:
        wine.run("wineboot", "--init", timeout=300)
        wine.server("-w")
        print(f"wine prefix made in {time.monotonic() - started:.1f} s")

        readings = os.path.join(workdir, "readings.txt")
        with open(readings, "w", encoding="utf-8") as f:
            for i in range(1, 1000):
                f.write(f"{i:04d}{TAIL}\n")
        sent = os.path.join(workdir, "sent.txt")
        instrument = subprocess.Popen(
            [vinstrument, "--kind", "text", "--file", readings, "--rate", str(RATE),
             "--wait-open", "--drop-unread", "--sent-file", sent, "--hold"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        pty = instrument.stdout.readline().strip()
        # Wine reads its COM ports from the registry when its server starts.
        r = wine.run("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/t", "REG_SZ",
                     "/d", pty, "/f")
        check(r.returncode == 0, f"reg add failed: {r.stdout} {r.stderr}")
        wine.server("-k")
        wine.server("-w")

        settings = wine.user_folder("AppData", "Roaming", "Parvelo", "Parvelo.conf")
        os.makedirs(os.path.dirname(settings))
        notepad_exe, windows_folder = ini_quoted("C:\\windows\\notepad.exe"), \
            ini_quoted("C:\\windows\\")
        with open(settings, "w", encoding="utf-8") as f:
            f.write("[Settings]\n"
                    f"ExeFileName={notepad_exe}\n"
                    f"OpenPathName={windows_folder}\n"
                    "[Properties]\nSettings=\"9600,n,8,1\"\nCommPort=1\nHandshaking=0\n")
        journal_home = wine.user_folder("AppData", "Local")
        editor = Editor(wine, wintext, workdir)

        app = Program(wine, folder)
        time.sleep(2.0)  # mapped is not yet painted
        shot(shots, "1-started")
        app.software_execution()
        find_window("Notepad", 60)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 30, "reading state")

        def journal():
            return read_journal(journal_home)

        in_flight, dropped = set(), set()

        def same():
            # Readings keep coming: the editor must hold what the journal
            # held just before or just after it was read.
            before = typed_pattern(journal(), in_flight, dropped)
            text = editor.text()
            return text is not None and any(
                re.fullmatch(p, text, re.S)
                for p in (before, typed_pattern(journal(), in_flight, dropped)))

        def editor_matches(what, timeout=30):
            try:
                return wait_for(same, timeout, what)
            except AssertionError:
                got, want = editor.text(), typed_pattern(journal(), in_flight, dropped)
                raise AssertionError(f"{what}: Notepad holds {got!r}, the journal {want!r}")

        def typed_count():
            return sum(1 for r in journal() if r[3] == "typed")

        def just_typed():
            count = typed_count()
            wait_for(lambda: typed_count() > count, 10, "a reading typed")

        # Under Wine (not Windows) keys the target has not read yet when it
        # loses the activation are dropped: the reading typed last before a
        # click on Stop, and those typed before the click reached Parvelo, may
        # be cut short in Notepad.
        def stop():
            # Counted from the click itself: readings typed while the window
            # was raised and the pointer placed are not Stop's to hold back.
            app.aim(1560)
            typed_before = [r[2] for r in journal() if r[3] == "typed"]
            sh("xdotool", "click", "1")
            wait_for(lambda: app.title() == "Parvelo[Stop]", 20, "Stop")
            meanwhile = [r[2] for r in journal() if r[3] == "typed"][len(typed_before):]
            # Wine hands the click to Parvelo late when the machine is busy:
            # in CI two readings (a second's worth) came through, never more.
            check(len(meanwhile) <= 2, f"typed after the click on Stop: {meanwhile}")
            dropped.update(typed_before[-1:] + meanwhile)

        wait_for(lambda: len(received(journal())) >= 8, 30, "eight readings")
        time.sleep(1.0)
        editor_matches("readings typed into Notepad")
        first = editor.text()
        check(first.startswith("0001" + TAIL + "\r\n"), f"Notepad begins with {first[:60]!r}")
        shot(shots, "2-reading")
        print(f"typed and read back: {len(received(journal()))} readings, "
              f"e.g. {first.splitlines()[0]!r}")

        # A dialog of the target: nothing is typed while it is open. Notepad
        # has the focus, as Parvelo types into it. Opened between two
        # readings, right after one was typed: keys sent when the user opens
        # a menu or a dialog go where the focus then is, on Windows as here.
        editor_matches("readings typed before the dialog")
        just_typed()
        last_typed = received(journal())[-1][2]
        # With the mouse and a plain key: Parvelo lets go of a Ctrl the user
        # holds while it types, so Ctrl+O may come out as "o".
        notepad = find_window("Notepad")

        def open_dialog():
            sh("xdotool", "mousemove", "--window", notepad, "20", "10", "click", "1")
            time.sleep(0.5)
            key("o")
        dialog = app.dialog(open_dialog, "Notepad's Open dialog")
        time.sleep(0.5)
        ids = [r[2] for r in received(journal())]
        in_flight.update(ids[ids.index(last_typed) + 1:])
        check(len(in_flight) <= 10, f"{len(in_flight)} readings came as the dialog opened")
        held_from = editor.text()
        count = len(received(journal()))
        wait_for(lambda: len(received(journal())) >= count + 3 * RATE, 30, "readings meanwhile")
        shot(shots, "3-target-dialog")
        check(editor.text() == held_from, "Notepad took text while its dialog was open")
        for _ in range(3):  # the first may only close the name box's list
            key("Escape")
            try:
                wait_for(lambda: not window_name(dialog), 3, "the Open dialog to close")
                break
            except AssertionError:
                pass
        check(not window_name(dialog), "the Open dialog did not close")
        waiting = [r[2] for r in received(journal())]

        def all_typed():
            outcomes = {r[2]: r[3] for r in journal() if r[3] != "received"}
            return all(outcomes.get(i) != "held" for i in waiting)
        wait_for(all_typed, 30, "the held readings typed")
        editor_matches("held readings typed after the dialog closed")
        after = editor.text()
        lost = [r[4] for r in received(journal())
                if r[2] in in_flight and (r[4].decode("utf-8") + "\r\n") not in after]
        check(len(lost) <= 1, f"readings that went into the dialog instead: {lost}")
        print(f"held while Notepad's dialog was open: "
              f"{len(received(journal())) - count} readings, typed once it closed")

        stop()
        time.sleep(1.5)
        stopped_at = len(received(journal()))
        app.click(600)  # Read Start
        wait_for(lambda: app.title() == "Parvelo[Reading]", 20, "Read Start")
        wait_for(lambda: len(received(journal())) >= stopped_at + 4, 30, "readings after restart")
        stop()
        time.sleep(0.5)
        editor_matches("every reading typed after Stop and Read Start")
        final = journal()
        shot(shots, "4-stopped")

        # What Parvelo read back, against what Notepad holds (read here
        # through its edit control, not through Parvelo): every reading
        # typed whole is journalled verified if and only if Notepad holds it.
        def read_back():
            return {r[2]: r[3] for r in journal() if r[3] in ("verified", "changed",
                                                               "unverified")}
        typed_ids = [r[2] for r in final if r[3] == "typed"]
        wait_for(lambda: set(typed_ids) <= set(read_back()), 30, "every typed reading read back")
        checked, held_text = read_back(), editor.text()
        texts = {r[2]: r[4].decode("utf-8") + "\r\n" for r in received(final)}
        wrong = [(texts[i][:4], checked[i]) for i in typed_ids
                 if (checked[i] == "verified") != (texts[i] in held_text)]
        details = {r[2]: r[4].decode() for r in journal() if r[3] in ("changed", "unverified")}
        check(not wrong, f"read back wrongly (reading, journal): {wrong}; "
              f"{[details.get(i) for i in typed_ids if i in details]}")
        print(f"read back: {sum(v == 'verified' for v in checked.values())} verified, "
              f"{sum(v != 'verified' for v in checked.values())} not (changed or unverified), "
              "each as Notepad holds it")

        with open(sent, encoding="utf-8") as f:
            sent_lines = f.read().splitlines()
        got = [r[4].decode("utf-8") for r in received(final)]
        check(all(line.endswith(TAIL) for line in got), "a reading changed on the way")
        numbers = [int(line[:4]) for line in got]
        check(numbers == sorted(numbers) and len(set(numbers)) == len(numbers),
              "readings out of order or twice")
        sent_while_open = [n for n in range(numbers[0], numbers[-1] + 1)
                           if f"{n:04d}{TAIL}" in sent_lines]
        missing = sorted(set(sent_while_open) - set(numbers))
        # The one reading that may be sent as the port opens again is
        # cleared by the purge at open, as it belongs to nobody.
        check(len(missing) <= 1, f"readings sent but not journalled: {missing}")
        outcomes = {r[2]: r[3] for r in final
                    if r[3] not in ("received", "verified", "changed", "unverified")}
        cut = [r[2] for r in received(final) if outcomes.get(r[2]) == "cut"]
        check(all(outcomes.get(r[2]) in ("typed", "cut", "held") for r in received(final)),
              "a reading without its outcome in the journal")
        # Held by the last Stop, for the next Read Start: only the newest.
        states = [outcomes.get(r[2]) for r in received(final)]
        check("held" not in states or set(states[states.index("held"):]) == {"held"},
              f"a reading held before others were typed: {states}")
        # Stop ends typing at once; at most the reading being typed at each
        # of the two Stops is cut short.
        check(len(cut) <= 2, f"more readings cut than Stops: {cut}")
        print(f"journal: {len(got)} readings received and typed, in order "
              f"(not sent while stopped: readings {numbers[0]}..{numbers[-1]} "
              f"minus {len(sent_while_open) - len(numbers) + len(missing)})")

        log = os.path.join(workdir, "saved", "log.txt")
        os.makedirs(os.path.dirname(log))
        app.save_log(log)
        with open(log, "rb") as f:
            saved = f.read()
        last = got[-1]
        # Wine's code page here is 1252, which lacks 日本: UTF-8 with its mark.
        check(saved.startswith(b"\xef\xbb\xbf") and last.encode("utf-8") in saved,
              f"the saved log lacks the last reading; it holds {saved[-200:]!r}")
        print(f"Log Save: {len(saved)} bytes, the last reading in it")
        shot(shots, "5-log-saved")

        app.quit()
        # The journal the Windows build wrote, its lock and its look at the
        # last hash included, checks intact as one chain.
        days = sorted(glob.glob(os.path.join(journal_home, "Parvelo", "journal", "*.tsv")))
        checked = wine.run(os.path.join(folder, "parvelo.exe"), "--check-journal",
                           *[windows_path(d) for d in days], timeout=60)
        check(days and checked.returncode == 0 and checked.stdout.count("intact") == len(days),
              f"the journal does not check intact: {checked.stdout} {checked.stderr}")
        print(f"journal check: {checked.stdout.strip()}")
        with open(settings, encoding="utf-8") as f:
            stored = f.read()
        check("SavePathName" in stored and "saved" in stored,
              f"the settings written at exit lack the log's folder: {stored}")
        wine.run("taskkill", "/f", "/im", "notepad.exe", timeout=30)
        time.sleep(1.0)

        # A second start takes its settings from the file the first wrote:
        # Notepad again, from ExeFileName, and COM1 with its properties.
        app = Program(wine, folder)
        app.software_execution()
        find_window("Notepad", 60)
        wait_for(lambda: app.title() == "Parvelo[Reading]", 30, "reading state after restart")
        count = len(received(journal()))
        wait_for(lambda: len(received(journal())) >= count + 2, 30, "readings after restart")
        # Between two readings (the editor is read while readings come):
        def ends_whole():
            text = editor.text() or ""
            return any(text.endswith(r[4].decode("utf-8") + "\r\n")
                       for r in received(journal())[count:])
        try:
            wait_for(ends_whole, 30, "a reading of the new run, whole, at the end of Notepad")
        except AssertionError:
            raise AssertionError(f"after a restart Notepad holds {editor.text()!r}")
        shot(shots, "6-restarted")
        print("restart: the stored settings were used, readings typed again")
        app.quit()
        print(f"PASS ({time.monotonic() - started:.1f} s)")
        return 0
    except Exception as e:  # noqa: BLE001
        shot(shots, "failure")
        print(f"FAIL: {e} ({time.monotonic() - started:.1f} s)")
        return 1
    finally:
        wine.server("-k")
        wine.server("-w")
        if instrument:
            instrument.terminate()
            instrument.wait(10)
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
