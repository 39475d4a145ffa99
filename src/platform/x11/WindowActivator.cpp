#include "platform/x11/WindowActivator.h"

#include "platform/x11/WindowFinder.h"
#include "platform/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <unistd.h>

WindowActivator::WindowActivator(X11Connection& connection, WindowFinder& finder)
    : connection_(connection), finder_(finder) {}

WindowActivator::~WindowActivator() {
    if (timeWindow_ && connection_.isOpen())
        XDestroyWindow(connection_.display(), timeWindow_);
}

unsigned long WindowActivator::serverTime() {
    Display* dpy = connection_.display();
    if (!timeWindow_) {
        XSetWindowAttributes attributes;
        attributes.event_mask = PropertyChangeMask;
        attributes.override_redirect = True;
        timeWindow_ = XCreateWindow(dpy, connection_.root(), -1, -1, 1, 1, 0, 0, InputOnly,
                                    CopyFromParent, CWEventMask | CWOverrideRedirect, &attributes);
        timeAtom_ = XInternAtom(dpy, "_PARVELO_TIMESTAMP", False);
    }
    unsigned char nothing = 0;
    XChangeProperty(dpy, timeWindow_, timeAtom_, XA_STRING, 8, PropModeAppend, &nothing, 0);
    XEvent event;
    const Window w = timeWindow_;
    XIfEvent(
        dpy, &event,
        [](Display*, XEvent* e, XPointer arg) -> Bool {
            return e->type == PropertyNotify &&
                   e->xproperty.window == *reinterpret_cast<Window*>(arg);
        },
        reinterpret_cast<XPointer>(const_cast<Window*>(&w)));
    return event.xproperty.time;
}

bool WindowActivator::hasFocus(unsigned long window) {
    Display* dpy = connection_.display();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    // None and PointerRoot never count: keys would go wherever the pointer is.
    for (int depth = 0; focus > PointerRoot && depth < 64; ++depth) {
        if (focus == window)
            return true;
        if (focus == connection_.root())
            return false;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy, focus, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        focus = parent;
    }
    connection_.syncAndTakeError();
    return false;
}

bool WindowActivator::buttonHeld() {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    XQueryPointer(connection_.display(), connection_.root(), &root, &child, &rootX, &rootY, &x, &y,
                  &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

QString WindowActivator::grabbedBy() {
    // X has no request that tells about another client's grab. Those that
    // hold one while the user sees it (a screen locker, a menu) show an
    // override-redirect window on top of everything: only then is the grab
    // itself tried, for an instant, since a pointer grab takes whatever the
    // user clicks in that instant and sends crossing events.
    Display* dpy = connection_.display();
    const Window root = connection_.root();
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    XWindowAttributes screen{};
    XWindowAttributes top{};
    Window topWindow = 0;
    if (XGetWindowAttributes(dpy, root, &screen) &&
        XQueryTree(dpy, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = count; i-- > 0;) {
            if (XGetWindowAttributes(dpy, children[i], &top) && top.map_state == IsViewable) {
                topWindow = children[i];
                break; // only the topmost window counts
            }
        }
    }
    if (children)
        XFree(children);
    connection_.syncAndTakeError();
    if (!topWindow || !top.override_redirect ||
        finder_.describe(topWindow).pid == ::getpid()) // our own tooltip or menu
        return {};
    const int result =
        XGrabPointer(dpy, root, False, 0, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (result == GrabSuccess) {
        XUngrabPointer(dpy, CurrentTime);
        XFlush(dpy);
        return {};
    }
    if (result != AlreadyGrabbed && result != GrabFrozen)
        return {};
    if (buttonHeld())
        return QStringLiteral("a mouse button is held down");
    // A locker covers the whole screen.
    const bool locked = top.x <= 0 && top.y <= 0 && top.x + top.width >= screen.width &&
                        top.y + top.height >= screen.height;
    return locked ? QStringLiteral("the screen is locked")
                  : QStringLiteral("another program holds the keyboard (an open menu, a drag)");
}

void WindowActivator::request(unsigned long window) {
    Display* dpy = connection_.display();
    if (finder_.supportsActiveWindowMessage()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = finder_.atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source: a pager or similar tool, acting for the user
        event.xclient.data.l[1] = long(serverTime());
        event.xclient.data.l[2] = 0;
        XSendEvent(dpy, connection_.root(), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XRaiseWindow(dpy, window);
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
    }
    connection_.syncAndTakeError();
}
