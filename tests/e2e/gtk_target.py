#!/usr/bin/python3
"""A GTK 3 target for the Wayland tests: a main window with one entry; each
Return appends the entry's text and a line end to OUT and empties it. The
first line of OUT names the display back end GTK chose (X11 or Wayland).

usage: gtk_target.py OUT"""

import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

out = sys.argv[1]
with open(out, "w") as f:
    f.write(type(Gdk.Display.get_default()).__name__ + "\n")


def on_activate(entry):
    with open(out, "a") as f:
        f.write(entry.get_text() + "\n")
    entry.set_text("")


window = Gtk.Window(title="target")
entry = Gtk.Entry()
entry.connect("activate", on_activate)
window.add(entry)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
