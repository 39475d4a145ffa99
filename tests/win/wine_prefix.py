"""A Wine prefix of a test's own: the commands run in it, and its folders."""

import glob
import os
import subprocess

from parvelo_session import check

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")


class Wine:
    def __init__(self, workdir):
        self.prefix = os.path.join(workdir, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=;mshtml=", LANG="C.UTF-8")

    def run(self, *args, timeout=120):
        return subprocess.run([WINE, *args], env=self.env, timeout=timeout,
                              capture_output=True, text=True, errors="replace")

    def start(self, *args):
        return subprocess.Popen([WINE, *args], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def server(self, *args):
        subprocess.run([WINESERVER, *args], env=self.env, timeout=120, check=False)

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def user_folder(self, *parts):
        users = [u for u in glob.glob(self.drive_c("users", "*"))
                 if os.path.basename(u) != "Public"]
        check(len(users) == 1, f"one user folder in the prefix, found {users}")
        return os.path.join(users[0], *parts)
