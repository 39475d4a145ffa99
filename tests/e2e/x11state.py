"""The X server's keyboard as a test sees it, through libX11 (no extra
tools): the keysym on each keycode, and which modifier keys are down."""

import ctypes
import ctypes.util
import time

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


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


_x11.XDefaultRootWindow.restype = ctypes.c_ulong
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XInternAtom.restype = ctypes.c_ulong
_x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
_x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                            ctypes.POINTER(_Event)]
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XPending.argtypes = [ctypes.c_void_p]
_x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Event)]

_CLIENT_MESSAGE = 33
_STRUCTURE_NOTIFY = (1 << 17) | (1 << 19)  # StructureNotify, SubstructureNotify
_stamp = [1000]


def ping(window, timeout):
    """Seconds until the program that owns window answers a _NET_WM_PING
    (a window manager's "are you alive?", answered by its event loop), or
    None when it does not answer within timeout."""
    with _Display() as dpy:
        root = _x11.XDefaultRootWindow(dpy)
        _x11.XSelectInput(dpy, root, _STRUCTURE_NOTIFY)  # the answer goes to the root
        protocols = _x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        net_wm_ping = _x11.XInternAtom(dpy, b"_NET_WM_PING", 0)
        _stamp[0] += 1
        event = _Event()
        event.xclient.type = _CLIENT_MESSAGE
        event.xclient.window = int(window)
        event.xclient.message_type = protocols
        event.xclient.format = 32
        event.xclient.data[0] = net_wm_ping
        event.xclient.data[1] = _stamp[0]
        event.xclient.data[2] = int(window)
        started = time.monotonic()
        _x11.XSendEvent(dpy, int(window), 0, 0, ctypes.byref(event))
        _x11.XFlush(dpy)
        while time.monotonic() - started < timeout:
            while _x11.XPending(dpy):
                got = _Event()
                _x11.XNextEvent(dpy, ctypes.byref(got))
                c = got.xclient
                if (got.type == _CLIENT_MESSAGE and c.data[0] == net_wm_ping
                        and c.data[1] == _stamp[0]):
                    return time.monotonic() - started
            time.sleep(0.005)
        return None
