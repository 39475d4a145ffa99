"""A throw-away LibreOffice profile for tests, with Calc's settings as a
user has them (AutoInput and AutoCorrect on), and an empty spreadsheet
document to type into.

The profile changes only what a user clicks away once and never sees again:
the first-start wizard, the tip of the day and the release-notes bar. None
of them is in the way of keys while the document is open (the first-start
case has its own test), so they hide no user's failure.

Calc runs with the plugin it picks itself: gtk3 under openbox, as on GNOME
and Xfce."""

import csv as csv_module
import os
import subprocess
import time

XCU = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>7.4</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""


def make_profile(workdir):
    profile = os.path.join(workdir, "lo-profile")
    os.makedirs(os.path.join(profile, "user"), exist_ok=True)
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write(XCU)
    return "file://" + profile


def soffice_env():
    return dict(os.environ, SAL_USE_VCLPLUGIN="gen", LANG="C.UTF-8")


def empty_sheet(workdir, profile_url):
    """An empty .ods, so that Ctrl+S saves without asking for a name."""
    csv = os.path.join(workdir, "sheet.csv")
    open(csv, "w").close()
    subprocess.run(["soffice", "--headless", f"-env:UserInstallation={profile_url}",
                    "--convert-to", "ods", "--outdir", workdir, csv],
                   check=True, timeout=120, capture_output=True, env=soffice_env())
    return os.path.join(workdir, "sheet.ods")


def read_cells(workdir, profile_url, ods):
    """The sheet's cells as rows of text, through a CSV export."""
    subprocess.run(["soffice", "--headless", f"-env:UserInstallation={profile_url}",
                    "--convert-to", "csv:Text - txt - csv (StarCalc):9,34,76,1",
                    "--outdir", os.path.join(workdir, "csv"), ods],
                   check=True, timeout=120, capture_output=True, env=soffice_env())
    with open(os.path.join(workdir, "csv", "sheet.csv"), encoding="utf-8", newline="") as f:
        return [row for row in csv_module.reader(f, delimiter="\t") if row]


def calc_pidfile(workdir):
    """Where calc.sh writes its PID: the process group of the Calc it starts."""
    return os.path.join(workdir, "calc.pid")


def calc_target(workdir, profile_url, sheet):
    """A script for Software Execution that opens sheet in Calc."""
    from parvelo_session import target_script
    return target_script(workdir, "calc.sh", f"echo $$ > {calc_pidfile(workdir)}\n"
                         f"exec /usr/bin/localc --norestore -env:UserInstallation={profile_url} "
                         f"{sheet}\n")


def end_calc(workdir):
    """Ends the Calc that calc.sh started, if it still runs."""
    from parvelo_session import end_group
    end_group(calc_pidfile(workdir))


def save_and_quit(calc_window, workdir):
    """Ctrl+S, then Ctrl+Q in Calc's window, and waits until the Calc that
    calc.sh started has ended."""
    from parvelo_session import group_members, key, read_pid, sh, wait_for
    sh("xdotool", "windowactivate", "--sync", calc_window, check=False)
    key("ctrl+s")
    time.sleep(3)
    key("ctrl+q")
    pgid = read_pid(calc_pidfile(workdir))
    wait_for(lambda: not group_members(pgid), 60, "Calc to end")
