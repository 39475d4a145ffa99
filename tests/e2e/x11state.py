"""The X server's keyboard as a test sees it, through libX11 (no extra
tools): the keysym on each keycode, and which modifier keys are down."""

import ctypes
import ctypes.util

_x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
_x11.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                  ctypes.POINTER(ctypes.c_int)]
_x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
_x11.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                     ctypes.POINTER(ctypes.c_int)]
_x11.XQueryKeymap.argtypes = [ctypes.c_void_p, ctypes.c_char * 32]
_x11.XFree.argtypes = [ctypes.c_void_p]


class _ModifierKeymap(ctypes.Structure):
    _fields_ = [("max_keypermod", ctypes.c_int), ("modifiermap", ctypes.POINTER(ctypes.c_ubyte))]


_x11.XGetModifierMapping.restype = ctypes.POINTER(_ModifierKeymap)
_x11.XGetModifierMapping.argtypes = [ctypes.c_void_p]
_x11.XFreeModifiermap.argtypes = [ctypes.POINTER(_ModifierKeymap)]


class _Display:
    def __enter__(self):
        self.dpy = _x11.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display")
        return self.dpy

    def __exit__(self, *exc):
        _x11.XCloseDisplay(self.dpy)


def keymap():
    """{keycode: first keysym} for every keycode."""
    with _Display() as dpy:
        lo, hi = ctypes.c_int(), ctypes.c_int()
        _x11.XDisplayKeycodes(dpy, ctypes.byref(lo), ctypes.byref(hi))
        per = ctypes.c_int()
        count = hi.value - lo.value + 1
        syms = _x11.XGetKeyboardMapping(dpy, lo.value, count, ctypes.byref(per))
        result = {lo.value + i: syms[i * per.value] for i in range(count)}
        _x11.XFree(syms)
        return result


def empty_keycodes():
    return sorted(k for k, sym in keymap().items() if sym == 0)


def modifiers_down():
    """Keycodes of modifier keys (Shift, Ctrl, Alt, ...) that are down."""
    with _Display() as dpy:
        state = (ctypes.c_char * 32)()
        _x11.XQueryKeymap(dpy, state)
        mods = _x11.XGetModifierMapping(dpy)
        per = mods.contents.max_keypermod
        codes = {mods.contents.modifiermap[i] for i in range(8 * per)} - {0}
        _x11.XFreeModifiermap(mods)
        raw = bytes(state)
        return sorted(k for k in codes if raw[k // 8] & (1 << (k % 8)))
