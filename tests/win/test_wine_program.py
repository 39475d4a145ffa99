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


def landed(text, sent):
    """Where each line sent is in the editor's text, in order: (line,
    characters of it there, out of len(line) + 2 for its CR LF). A line cut
    short leaves a prefix; the next line present starts where it ends. And
    the text that no line sent explains (half a character while keys are
    still coming, or something wrong)."""
    out, pos = [], 0
    for i, line in enumerate(sent):
        full = line + "\r\n"
        if text.startswith(full, pos):
            out.append((line, len(full)))
            pos += len(full)
            continue
        # Readings start with their own number: the longest prefix after
        # which the text goes on with a later reading (or ends).
        later = [s[:4] for s in sent[i + 1:]]
        for k in range(len(full) - 1, -1, -1):
            rest = text[pos + k:pos + k + 4]
            if text[pos:pos + k] == full[:k] and (rest == "" or rest in later):
                break
        out.append((line, k))
        pos += k
    return out, text[pos:]


def unexplained(text, sent, journal, at_stop, in_dialog, settled, running):
    """The lines sent that are not whole in the editor and whose absence is
    none of the named ones, as texts; empty when all is well. Each absence
    is bounded to its cause and Parvelo's journal must say the same of that
    reading:
    - the line the port's purge drops as it opens, and one sent as the last
      Stop closed it: never received, never in the editor (one each);
    - readings held, not yet typed: the newest only, absent;
    - a reading Stop cut short: a prefix, and the journal says cut;
    - Wine drops the keys Notepad has not read when it loses the
      activation: the readings typed at a click on Stop and those Notepad
      had not read just before it (at_stop) may be cut short; the journal
      says typed and, once read back, not verified (checked against the
      editor at the end);
    - a reading on its way as Notepad's dialog opened (in_dialog) may go
      into the dialog: at most one.
    Lines sent before the check began (settled) must be there; the rest may
    still be on their way, and while the run goes on the last reading in the
    editor may be one whose keys are still coming."""
    ids = {r[4].decode("utf-8"): r[2] for r in received(journal)}
    outcome = {r[2]: r[3] for r in journal if r[3] in ("typed", "cut", "held")}
    where, rest = landed(text, sent)
    problems = [f"Notepad holds what was never sent: {rest[:80]!r}"] if rest else []
    last_present = max((i for i, (_, k) in enumerate(where) if k), default=-1)
    purged, at_close, into_dialog = [], [], []
    for i, (line, k) in enumerate(where):
        rid = ids.get(line)
        said = outcome.get(rid) if rid else "never received"
        if k == len(line) + 2:
            if said not in ("typed", "cut"):
                problems.append(f"{line[:4]} is in Notepad, the journal says {said}")
            continue
        newest = i > last_present
        if (newest and i >= settled) or (running and i == last_present):
            continue  # still on its way
        if rid is None and k == 0:
            (at_close if newest else purged).append(line[:4])
        elif said == "held" and k == 0 and newest:
            pass
        elif said == "cut" or (rid in at_stop and said == "typed"):
            pass
        elif rid in in_dialog and k == 0 and said == "typed":
            into_dialog.append(line[:4])
        else:
            problems.append(f"{line[:4]}: {k} of {len(line) + 2} characters in Notepad, "
                            f"the journal says {said}")
    for what, found in (("sent as the port opened", purged), ("sent as it closed", at_close),
                        ("typed into the dialog instead", into_dialog)):
        if len(found) > 1:
            problems.append(f"more than one reading {what}, none in Notepad: {found}")
    return problems


def main():
    folder, wintext, vinstrument, shots = sys.argv[1:5]
    os.makedirs(shots, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="parvelo-wine-e2e-")
    wine = Wine(workdir)
    instrument = journal_home = None
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

        def sent_lines():
            with open(sent, encoding="utf-8") as f:
                return f.read().splitlines()

        def problems(settled, running):
            text = editor.text()
            if text is None:
                return ["Notepad could not be read"]
            return unexplained(text, sent_lines(), journal(), dropped, in_flight, settled,
                               running)

        def editor_matches(what, running=True, timeout=30):
            # Every line sent before this check began must land; those sent
            # since may still be on their way.
            settled = len(sent_lines())
            try:
                return wait_for(lambda: not problems(settled, running), timeout, what)
            except AssertionError:
                raise AssertionError(f"{what}: {problems(settled, running)}; Notepad holds "
                                     f"{editor.text()!r}")

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
            # What Notepad has not read yet, seen by the test itself just
            # before the click: Wine drops it when the click takes the
            # activation (Windows keeps it). Bounded: Parvelo must not run
            # far ahead of its target.
            texts = {r[2]: r[4].decode("utf-8") + "\r\n" for r in received(journal())}
            seen = editor.text() or ""
            typed_before = [r[2] for r in journal() if r[3] == "typed"]
            unread = [i for i in typed_before[-10:] if texts[i] not in seen]
            check(len(unread) <= 8, f"typed, not yet in Notepad at the click: {unread}")
            sh("xdotool", "click", "1")
            wait_for(lambda: app.title() == "Parvelo[Stop]", 20, "Stop")
            meanwhile = [r[2] for r in journal() if r[3] == "typed"][len(typed_before):]
            # Wine hands the click to Parvelo late when the machine is busy:
            # in CI two readings (a second's worth) came through, never more.
            check(len(meanwhile) <= 2, f"typed after the click on Stop: {meanwhile}")
            dropped.update(unread + typed_before[-1:] + meanwhile)

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
        print(f"held while Notepad's dialog was open: "
              f"{len(received(journal())) - count} readings, typed once it closed")

        stop()
        time.sleep(1.5)
        stopped_at = len(received(journal()))
        restarted_at = len(sent_lines())  # the port is closed: nothing is sent
        app.click(600)  # Read Start
        wait_for(lambda: app.title() == "Parvelo[Reading]", 20, "Read Start")
        wait_for(lambda: len(received(journal())) >= stopped_at + 4, 30, "readings after restart")
        stop()
        time.sleep(0.5)
        editor_matches("every reading typed after Stop and Read Start", running=False)
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

        sent_now = sent_lines()
        got = [r[4].decode("utf-8") for r in received(final)]
        check(all(line.endswith(TAIL) for line in got), "a reading changed on the way")
        numbers = [int(line[:4]) for line in got]
        check(numbers == sorted(numbers) and len(set(numbers)) == len(numbers),
              "readings out of order or twice")
        sent_while_open = [n for n in range(numbers[0], numbers[-1] + 1)
                           if f"{n:04d}{TAIL}" in sent_now]
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
        # Wine's code page here is 1252, which lacks 日本: UTF-8 with its mark.
        check(saved.startswith(b"\xef\xbb\xbf"), f"the saved log begins {saved[:20]!r}")
        # The log holds the run since Read Start: every reading sent since
        # that landed whole is in it, in order.
        logged = iter(saved.decode("utf-8-sig").splitlines())
        whole = [line for line, k in landed(held_text, sent_now)[0][restarted_at:]
                 if k == len(line) + 2]
        absent = [line[:4] for line in whole if not any(line in shown for shown in logged)]
        check(not absent, f"readings in Notepad, not in order in the saved log: "
              f"{absent}; it ends {saved[-200:]!r}")
        print(f"Log Save: {len(saved)} bytes, the {len(whole)} readings of the run Notepad "
              "holds, in order")
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
        if journal_home:  # the whole journal beside the screenshots
            with open(os.path.join(shots, "journal.txt"), "w", encoding="utf-8") as f:
                for r in read_journal(journal_home):
                    f.write(f"{r[0]} {r[2]} {r[3]} {r[4].decode('utf-8', 'replace')!r}\n")
            print(f"the journal is in {shots}/journal.txt")
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
