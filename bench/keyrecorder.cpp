// keyrecorder: a small X window that takes the focus and logs every key press
// with a CLOCK_MONOTONIC time stamp, so that the time from a byte on the
// serial line to the key in the target can be measured on one clock.
//
// Started with no arguments (as a launched target is), it writes to
// $KEYRECORDER_OUT, or /tmp/keyrecorder-<pid>.log. One line per key press:
//   <ns> <keysym name> <text>
// text is the UTF-8 the key produced; bytes up to space and '\' are written
// as \xNN; a key without text (Shift) has no third field. Each line is
// flushed at once.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <time.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

static std::string escaped(const char* s, int n) {
    std::string out;
    if (n > 0)
        out.push_back(' ');
    for (int i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)s[i];
        if (c <= 0x20 || c == '\\' || c == 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::string path;
    if (argc > 1)
        path = argv[1];
    else if (const char* e = std::getenv("KEYRECORDER_OUT"))
        path = e;
    else
        path = "/tmp/keyrecorder-" + std::to_string(getpid()) + ".log";
    FILE* out = std::fopen(path.c_str(), "a");
    if (!out) {
        std::perror(path.c_str());
        return 1;
    }

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "keyrecorder: cannot open display\n");
        return 1;
    }
    XSetLocaleModifiers("");
    XIM im = XOpenIM(dpy, nullptr, nullptr, nullptr);
    if (!im) {
        XSetLocaleModifiers("@im=none");
        im = XOpenIM(dpy, nullptr, nullptr, nullptr);
    }

    int screen = DefaultScreen(dpy);
    Window win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 40, 40, 360, 120, 1,
                                     BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XSelectInput(dpy, win, KeyPressMask | StructureNotifyMask | FocusChangeMask);

    XStoreName(dpy, win, "keyrecorder");
    XClassHint cls;
    cls.res_name = const_cast<char*>("keyrecorder");
    cls.res_class = const_cast<char*>("KeyRecorder");
    XSetClassHint(dpy, win, &cls);
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(dpy, win, &hints);
    long pid = getpid();
    XChangeProperty(dpy, win, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    Atom wmDelete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, win, &wmDelete, 1);

    XIC ic = nullptr;
    if (im)
        ic = XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, win,
                       XNFocusWindow, win, nullptr);
    if (ic)
        XSetICFocus(ic);

    XMapRaised(dpy, win);
    XFlush(dpy);

    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == KeyPress) {
            int64_t t = nowNs();
            char buf[64];
            KeySym ks = NoSymbol;
            int n;
            if (ic) {
                Status st;
                n = Xutf8LookupString(ic, &ev.xkey, buf, sizeof buf, &ks, &st);
                if (st != XLookupChars && st != XLookupBoth)
                    n = 0;
                if (st != XLookupKeySym && st != XLookupBoth) {
                    if (st != XLookupChars)
                        ks = NoSymbol;
                }
            } else {
                n = XLookupString(&ev.xkey, buf, sizeof buf, &ks, nullptr);
            }
            const char* name = ks != NoSymbol ? XKeysymToString(ks) : nullptr;
            std::fprintf(out, "%lld %s%s\n", (long long)t, name ? name : "NoSymbol",
                         escaped(buf, n).c_str());
            std::fflush(out);
        } else if (ev.type == MapNotify) {
            // Take the focus ourselves too: there may be no window manager.
            XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
        } else if (ev.type == ClientMessage && Atom(ev.xclient.data.l[0]) == wmDelete) {
            break;
        } else if (ev.type == DestroyNotify) {
            break;
        }
    }
    std::fclose(out);
    XCloseDisplay(dpy);
    return 0;
}
