#!/usr/bin/env python3
"""End to end, under the X session of tests/e2e/xsession.sh (Xvfb, openbox,
Parvelo with a throw-away settings folder): each dialog of the main window
opens by its access key, as a user without a mouse opens it (Alt+O Option,
Alt+P Property, Alt+H A About, Alt+F S Log Save), takes the keyboard focus,
is owned by the main window where it blocks it (WM_TRANSIENT_FOR), keeps
the main window from taking keys while it is modal, and closes by Esc where
it has a cancel button, else by the window manager.

usage: test_dialog_keys.py PARVELO_EXE"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from parvelo_session import Parvelo, SerialLine, key, sh, wait_for, window_name  # noqa: E402

# keys, the dialog's title (None: the Save As dialog, titled by Qt), modal,
# owned by the main window, closed by Esc. Option stays open beside the
# main window as a window of its own; Option and Property have no cancel
# button, so Esc leaves them open and the window manager closes them.
DIALOGS = [
    (("alt+o",), "Option", False, False, False),
    (("alt+p",), "Property", True, True, False),
    (("alt+h", "a"), "About Parvelo", True, True, True),
    (("alt+f", "s"), None, True, True, True),
]


def active_window():
    return sh("xdotool", "getactivewindow", check=False).stdout.strip()


def visible_windows(app):
    return sh("xdotool", "search", "--onlyvisible", "--pid", str(app.proc.pid),
              check=False).stdout.split()


def transient_for(wid):
    out = sh("xprop", "-id", wid, "WM_TRANSIENT_FOR", check=False).stdout
    return int(out.split("#")[-1].strip(), 16) if "#" in out else None


def main():
    exe = sys.argv[1]
    serial = SerialLine()
    app = Parvelo(exe, {}, serial)
    ok = True
    try:
        main_id = int(app.window)
        for keys, title, modal, owned, esc_closes in DIALOGS:
            app.focus()
            for k in keys:
                key(k)
                time.sleep(0.2)
            dialog = wait_for(app._dialog, 10, f"dialog {title or 'Log Save'}")
            time.sleep(0.3)
            name = window_name(dialog)
            right = title is None or name == title
            try:
                focused = wait_for(lambda: active_window() == dialog, 3, "focus")
            except AssertionError:
                focused = False
            owner = transient_for(dialog)
            # While a modal dialog is up, keys for the main window (Alt+O
            # would open Option) must not reach it.
            kept = True
            if modal:
                key("alt+o")
                time.sleep(0.3)
                kept = [w for w in visible_windows(app) if w not in (app.window, dialog)] == []
            key("Escape")
            time.sleep(0.5)
            esc_right = (app._dialog() is None) == esc_closes
            if app._dialog() is not None:
                sh("wmctrl", "-i", "-c", hex(int(dialog)), check=False)
            try:
                wait_for(lambda: app._dialog() is None, 5, f"{name} to close")
                closed = True
            except AssertionError:
                closed = False
            good = right and focused and (owner == main_id) == owned and kept and esc_right and closed
            print(f"{'ok' if good else 'FAIL'}: {'+'.join(keys)} opened '{name}', focused={focused}, "
                  f"owned by the main window={owner == main_id}, main window took no keys={kept}, "
                  f"Esc {'closed it' if esc_closes else 'left it open'}={esc_right}, closed={closed}")
            ok = ok and good
            if not closed:
                break
    finally:
        app.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
