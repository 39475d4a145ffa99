#include "platform/x11/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <mutex>

namespace {
// Xlib's error handler is global. We keep the first error per display of
// ours and pass errors of any other Xlib display on to the handler that was
// installed before.
struct ErrorLog {
    std::mutex mutex;
    XErrorHandler previous = nullptr;
    Display* displays[8] = {};
    int codes[8] = {};
};
ErrorLog& errorLog() {
    static ErrorLog log;
    return log;
}

int recordError(Display* display, XErrorEvent* event) {
    ErrorLog& log = errorLog();
    for (int i = 0; i < 8; ++i) {
        if (log.displays[i] == display) {
            if (log.codes[i] == 0)
                log.codes[i] = event->error_code;
            return 0;
        }
    }
    return log.previous ? log.previous(display, event) : 0;
}

void registerDisplay(Display* display) {
    ErrorLog& log = errorLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    XErrorHandler old = XSetErrorHandler(recordError);
    if (old != recordError)
        log.previous = old;
    for (int i = 0; i < 8; ++i) {
        if (!log.displays[i]) {
            log.displays[i] = display;
            log.codes[i] = 0;
            return;
        }
    }
}

void unregisterDisplay(Display* display) {
    ErrorLog& log = errorLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    for (int i = 0; i < 8; ++i)
        if (log.displays[i] == display)
            log.displays[i] = nullptr;
}
} // namespace

X11Connection::X11Connection(const QString& displayName) {
    const QByteArray name = displayName.toLocal8Bit();
    display_ = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!display_)
        return;
    name_ = QString::fromLocal8Bit(DisplayString(display_));
    registerDisplay(display_);
    int event = 0, error = 0, major = 0, minor = 0;
    hasXTest_ = XTestQueryExtension(display_, &event, &error, &major, &minor);
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    hasXkb_ = XkbQueryExtension(display_, &opcode, &event, &error, &major, &minor);
    if (hasXkb_)
        xkbEventBase_ = event;
    // Our fake events must not be disturbed by a grab of our own connection.
    if (hasXTest_)
        XTestGrabControl(display_, True);
}

X11Connection::~X11Connection() {
    if (!display_)
        return;
    unregisterDisplay(display_);
    XCloseDisplay(display_);
}

unsigned long X11Connection::root() const {
    return display_ ? DefaultRootWindow(display_) : 0;
}

int X11Connection::takeError() {
    ErrorLog& log = errorLog();
    for (int i = 0; i < 8; ++i) {
        if (log.displays[i] == display_) {
            const int code = log.codes[i];
            log.codes[i] = 0;
            return code;
        }
    }
    return 0;
}

int X11Connection::syncAndTakeError() {
    XSync(display_, False);
    return takeError();
}

void X11Connection::pumpEvents() {
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == xkbEventBase_ || event.type == MappingNotify)
            keymapChanged_ = true;
        else if (event.type == DestroyNotify)
            ++destroyCount_[event.xdestroywindow.window];
    }
}

bool X11Connection::takeKeymapChanged() {
    pumpEvents();
    const bool changed = keymapChanged_;
    keymapChanged_ = false;
    return changed;
}

unsigned X11Connection::watch(unsigned long window) {
    pumpEvents();
    XSelectInput(display_, window, StructureNotifyMask);
    return destroyCount_.value(window);
}

bool X11Connection::wasDestroyed(unsigned long window, unsigned token) {
    pumpEvents();
    return destroyCount_.value(window) != token;
}
