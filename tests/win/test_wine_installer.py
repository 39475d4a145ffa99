#!/usr/bin/env python3
"""The Windows setup program under Wine, in the X session of
tests/e2e/xsession.sh (openbox draws the frames with their icons) and a Wine
prefix of its own: builds the setup from the folder tools/windows.sh lays
out, installs it silently, finds the Start-menu entry and the uninstall
entry, starts the installed parvelo.exe from that entry and sees its window,
uninstalls silently, and checks that no installed file is left while the
user's settings and journal (and a file of the user's in the program's
folder) are. Screenshots go to SHOTS.

usage: test_wine_installer.py PARVELO_FOLDER SHOTS
Exits 77 (skipped) when the folder has no parvelo.exe."""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from parvelo_session import check, find_window, sh, wait_for, window_name  # noqa: E402
from wine_prefix import Wine  # noqa: E402

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Parvelo"
SKIP = 77


class InstallerWine(Wine):
    def uninstall_entry(self):
        """The uninstall key's values, or None when there is none."""
        r = self.run("reg", "query", UNINSTALL_KEY, timeout=60)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            fields = line.strip().split(None, 2)
            if len(fields) >= 2 and fields[1].startswith("REG_"):
                values[fields[0]] = fields[2] if len(fields) == 3 else ""
        return values


def files_of(folder):
    """Every file below folder: relative path -> SHA-256."""
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


def shot(shots, name):
    sh("import", "-window", "root", os.path.join(shots, name + ".png"), check=False)


def main():
    folder, shots = sys.argv[1:3]
    if not os.path.isfile(os.path.join(folder, "parvelo.exe")):
        print(f"skipped: {folder} has no parvelo.exe (tools/windows.sh lays it out)")
        return SKIP
    os.makedirs(shots, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="parvelo-wine-setup-")
    wine = InstallerWine(workdir)
    started = time.monotonic()
    try:
        # A copy: tools/test.sh lays the folder out without the manual, which
        # the setup requires; the build's manual, or a placeholder, stands in.
        copy = os.path.join(workdir, "Parvelo")
        shutil.copytree(folder, copy)
        folder = copy
        manual = os.path.join(folder, "Parvelo Manual.pdf")
        if not os.path.exists(manual):
            built = os.path.join(os.path.dirname(os.path.dirname(sys.argv[1])),
                                 "Parvelo Manual.pdf")
            if os.path.exists(built):
                shutil.copy(built, manual)
                print("the folder has no manual; the setup packs the build's")
            else:
                with open(manual, "w") as f:
                    f.write("placeholder: the folder was laid out without the manual\n")
                print("the folder has no manual; the setup packs a placeholder")
        r = subprocess.run([os.path.join(TOP, "tools", "windows-installer.sh"), "--out",
                            workdir, folder], capture_output=True, text=True, timeout=300)
        check(r.returncode == 0, f"windows-installer.sh failed:\n{r.stderr}")
        print(r.stderr.strip())
        setup = glob.glob(os.path.join(workdir, "parvelo-*-setup-x64.exe"))
        check(len(setup) == 1, f"one setup program, found {setup}")
        setup = setup[0]
        version = os.path.basename(setup).split("-")[1]
        wanted = files_of(folder)
        # The portable zip: the same files, in a folder Parvelo.
        with zipfile.ZipFile(os.path.join(workdir, f"parvelo-{version}-portable-x64.zip")) as z:
            zipped = {n: hashlib.sha256(z.read(n)).hexdigest() for n in z.namelist()
                      if not n.endswith("/")}
        check(zipped == {"Parvelo/" + f: h for f, h in wanted.items()},
              f"the zip holds {sorted(zipped)}")

        wine.run("wineboot", "--init", timeout=300)
        wine.server("-w")
        print(f"wine prefix made in {time.monotonic() - started:.1f} s")

        # What the user has from an earlier Parvelo: settings and a journal,
        # which no installer or uninstaller may touch.
        user_dirs = [wine.user_folder("AppData", "Roaming", "Parvelo"),
                     wine.user_folder("AppData", "Local", "Parvelo")]
        for path in (os.path.join(user_dirs[0], "Parvelo.conf"),
                     os.path.join(user_dirs[1], "journal", "earlier")):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write("kept\n")

        # The interactive setup's first page, for the screenshot; then Cancel.
        proc = wine.start(setup)
        page = find_window(f"^Parvelo {version} Setup$", 60)
        time.sleep(1.0)
        shot(shots, "setup-welcome")
        wine.run("taskkill", "/f", "/im", os.path.basename(setup), timeout=30)
        proc.wait(30)
        wait_for(lambda: not window_name(page), 20, "the setup window to close")

        # An earlier version with a file this one no longer has: installing
        # over it must leave no file of it behind.
        earlier = os.path.join(workdir, "earlier")
        shutil.copytree(folder, os.path.join(earlier, "Parvelo"))
        with open(os.path.join(earlier, "Parvelo", "dropped.dll"), "w") as f:
            f.write("from an earlier version\n")
        r = subprocess.run([os.path.join(TOP, "tools", "windows-installer.sh"), "--out", earlier,
                            os.path.join(earlier, "Parvelo")], capture_output=True, text=True,
                           timeout=300)
        check(r.returncode == 0, f"windows-installer.sh failed:\n{r.stderr}")
        for program in (os.path.join(earlier, os.path.basename(setup)), setup):
            t = time.monotonic()
            r = wine.run(program, "/S", timeout=300)
            check(r.returncode == 0, f"silent install exited {r.returncode}")
            wine.server("-w")
            print(f"silent install in {time.monotonic() - t:.1f} s")

        installed_dir = wine.drive_c("Program Files", "Parvelo")
        installed = files_of(installed_dir)
        check(set(installed) == set(wanted) | {"uninstall.exe"},
              f"installed files differ: missing {sorted(set(wanted) - set(installed))}, "
              f"extra {sorted(set(installed) - set(wanted) - {'uninstall.exe'})}")
        check(all(installed[f] == wanted[f] for f in wanted), "an installed file differs")
        # Its manifest: written for Windows 10 and 11, long paths, not elevated.
        with open(os.path.join(installed_dir, "parvelo.exe"), "rb") as f:
            exe_bytes = f.read()
        for part in (b'<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>',
                     b">true</longPathAware>", b'level="asInvoker"'):
            check(exe_bytes.count(part) == 1, f"parvelo.exe's manifest lacks {part!r}")

        link = wine.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                            "Parvelo.lnk")
        check(os.path.isfile(link), "no Start-menu entry Parvelo.lnk for all users")
        entry = wine.uninstall_entry()
        check(entry is not None, "no uninstall entry in the registry")
        exe = "C:\\Program Files\\Parvelo\\parvelo.exe"
        expected = {"DisplayName": "Parvelo", "DisplayVersion": version,
                    "DisplayIcon": exe + ",0",
                    "UninstallString": '"C:\\Program Files\\Parvelo\\uninstall.exe"'}
        for name, value in expected.items():
            check(entry.get(name) == value, f"uninstall entry {name}: {entry.get(name)!r}")
        check(entry.get("Publisher"), "uninstall entry without a publisher")
        size_kb = int(entry.get("EstimatedSize", "0"), 16)
        bytes_wanted = sum(os.path.getsize(os.path.join(folder, f)) for f in wanted)
        check(abs(size_kb * 1024 - bytes_wanted) < 2048,
              f"EstimatedSize {size_kb} KiB for {bytes_wanted} bytes")
        print(f"installed {len(wanted)} files, {size_kb} KiB; uninstall entry: {entry}")

        # Started as a user does: from the Start-menu entry.
        wine.start("start", "/unix", link)
        window = find_window("^Parvelo", 90)
        time.sleep(2.0)
        shot(shots, "installed-program")
        print(f"installed program shows its window: {window_name(window)!r}")
        # While it runs, the uninstaller refuses rather than leave half of it
        # (run in place, _?=, so that its exit status is its own; NSIS takes
        # the folder unquoted, so it goes in two words).
        uninstaller = exe.replace("parvelo.exe", "uninstall.exe")
        r = wine.run(uninstaller, "/S", "_?=C:\\Program", "Files\\Parvelo", timeout=300)
        check(r.returncode != 0 and files_of(installed_dir) == installed,
              f"the uninstaller, with Parvelo running, exited {r.returncode} and left "
              f"{sorted(files_of(installed_dir))}")
        wine.run("taskkill", "/im", "parvelo.exe", timeout=30)
        wait_for(lambda: not window_name(window), 30, "parvelo.exe to end")
        wine.server("-w")

        # As the program left them (it may have saved its settings).
        user_files = {os.path.join(d, p): h for d in user_dirs for p, h in files_of(d).items()}
        check(len(user_files) >= 2, f"the user's files are gone: {user_files}")

        # A file of the user's in the program's folder is not the uninstaller's.
        own = os.path.join(installed_dir, "my notes.txt")
        with open(own, "w") as f:
            f.write("mine\n")
        t = time.monotonic()
        r = wine.run(uninstaller, "/S", timeout=300)
        check(r.returncode == 0, f"silent uninstall exited {r.returncode}")
        # The uninstaller runs on from a copy in the temporary folder.
        wine.server("-w")
        print(f"silent uninstall in {time.monotonic() - t:.1f} s")
        left = files_of(installed_dir) if os.path.isdir(installed_dir) else {}
        check(set(left) == {"my notes.txt"}, f"left in the program's folder: {sorted(left)}")
        check(not os.path.exists(link), "the Start-menu entry is still there")
        check(wine.uninstall_entry() is None, "the uninstall entry is still there")
        after = {os.path.join(d, p): h for d in user_dirs for p, h in files_of(d).items()}
        check(after == user_files, f"the user's files changed: {user_files} -> {after}")

        # An upgrade told another folder (/D=, unquoted and last, as NSIS
        # takes it) goes there, not where the earlier version is.
        r = wine.run(os.path.join(earlier, os.path.basename(setup)), "/S", timeout=300)
        check(r.returncode == 0, f"silent install of the earlier version exited {r.returncode}")
        wine.server("-w")
        r = wine.run(setup, "/S", "/D=C:\\ParveloElsewhere", timeout=300)
        wine.server("-w")
        elsewhere = files_of(wine.drive_c("ParveloElsewhere"))
        check(r.returncode == 0 and set(elsewhere) == set(wanted) | {"uninstall.exe"},
              f"the upgrade told /D=C:\\ParveloElsewhere exited {r.returncode} and put "
              f"{sorted(elsewhere)} there")
        check((wine.uninstall_entry() or {}).get("InstallLocation") == "C:\\ParveloElsewhere",
              f"the uninstall entry after the upgrade elsewhere: {wine.uninstall_entry()}")
        print(f"passed in {time.monotonic() - started:.1f} s")
        return 0
    finally:
        wine.server("-k")
        wine.server("-w")
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
