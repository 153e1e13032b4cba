#!/usr/bin/python3
# A GTK 3 text view in a process of its own, for typing and pasting tests: writes its whole text to
# the file named by its first argument whenever the text changed, and prints its window id on
# standard output once it is shown.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

path = sys.argv[1]
window = Gtk.Window()
window.set_default_size(500, 300)
view = Gtk.TextView()
window.add(view)
buffer = view.get_buffer()
pending = []


def save():
    pending.clear()
    start, end = buffer.get_bounds()
    with open(path + ".tmp", "w", encoding="utf-8") as out:
        out.write(buffer.get_text(start, end, True))
    os.replace(path + ".tmp", path)
    return False


def changed(_):
    if not pending:
        pending.append(GLib.timeout_add(5, save))


buffer.connect("changed", changed)
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
print(window.get_window().get_xid(), flush=True)
Gtk.main()
