#include "platform/x11/WindowFinder.h"

#include <QFileInfo>

#include "platform/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <iterator>

WindowFinder::WindowFinder(X11Connection& connection) : connection_(connection) {}

unsigned long WindowFinder::atom(const char* name) {
    return XInternAtom(connection_.display(), name, False);
}

QList<unsigned long> WindowFinder::listProperty(unsigned long window, unsigned long property,
                                                unsigned long wantedType) {
    QList<unsigned long> result;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(connection_.display(), window, property, 0, 65536, False, wantedType,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
        if (type == wantedType && format == 32) {
            const unsigned long* ids = reinterpret_cast<unsigned long*>(data);
            for (unsigned long i = 0; i < count; ++i)
                result.append(ids[i]);
        }
        XFree(data);
    }
    return result;
}

unsigned long WindowFinder::cardinalProperty(unsigned long window, unsigned long property,
                                             bool* found) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    *found = false;
    if (XGetWindowProperty(connection_.display(), window, property, 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
        if (format == 32 && count == 1) {
            value = *reinterpret_cast<unsigned long*>(data);
            *found = true;
        }
        XFree(data);
    }
    return value;
}

bool WindowFinder::windowManagerRunning() {
    bool found = false;
    const unsigned long check = atom("_NET_SUPPORTING_WM_CHECK");
    const unsigned long wm = cardinalProperty(connection_.root(), check, &found);
    if (!found || !wm)
        return false;
    // A stale property of a window manager that has gone points nowhere.
    const unsigned long self = cardinalProperty(wm, check, &found);
    connection_.syncAndTakeError();
    return found && self == wm;
}

bool WindowFinder::supportsActiveWindowMessage() {
    return windowManagerRunning() &&
           listProperty(connection_.root(), atom("_NET_SUPPORTED"), XA_ATOM)
               .contains(atom("_NET_ACTIVE_WINDOW"));
}

bool WindowFinder::hasWmState(unsigned long window, long* state) {
    bool found = false;
    const unsigned long value = cardinalProperty(window, atom("WM_STATE"), &found);
    if (state)
        *state = long(value);
    return found;
}

unsigned long WindowFinder::findClientBelow(unsigned long window, int depth) {
    if (hasWmState(window))
        return window;
    if (depth <= 0)
        return 0;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(connection_.display(), window, &rootReturn, &parent, &children, &count))
        return 0;
    unsigned long client = 0;
    for (unsigned int i = 0; i < count && !client; ++i)
        client = findClientBelow(children[i], depth - 1);
    if (children)
        XFree(children);
    return client;
}

QList<unsigned long> WindowFinder::clientWindows() {
    Display* dpy = connection_.display();
    const bool wm = windowManagerRunning();
    if (wm) {
        QList<unsigned long> list =
            listProperty(connection_.root(), atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
        if (list.isEmpty())
            list = listProperty(connection_.root(), atom("_NET_CLIENT_LIST"), XA_WINDOW);
        if (!list.isEmpty())
            return list;
    }
    QList<unsigned long> result;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, connection_.root(), &rootReturn, &parent, &children, &count))
        return result;
    for (unsigned int i = 0; i < count; ++i) {
        unsigned long client = findClientBelow(children[i], 2);
        if (!client && !wm)
            client = children[i];
        if (client)
            result.append(client);
    }
    if (children)
        XFree(children);
    connection_.syncAndTakeError(); // windows may vanish while we look
    return result;
}

bool WindowFinder::isUsable(unsigned long window) {
    if (!window)
        return false;
    XWindowAttributes attributes;
    connection_.takeError();
    if (!XGetWindowAttributes(connection_.display(), window, &attributes) ||
        connection_.takeError())
        return false;
    if (attributes.override_redirect || attributes.c_class != InputOutput)
        return false;
    if (attributes.map_state == IsViewable)
        return true;
    long state = 0;
    return windowManagerRunning() && hasWmState(window, &state) && state == IconicState;
}

WindowSettle::Look WindowFinder::lookOf(unsigned long window) {
    WindowSettle::Look look;
    XWindowAttributes attributes;
    connection_.takeError();
    if (!XGetWindowAttributes(connection_.display(), window, &attributes) ||
        connection_.takeError())
        return look;
    look.viewable = attributes.map_state == IsViewable;
    look.size = QSize(attributes.width, attributes.height);
    look.title = titleOf(window);
    return look;
}

WindowCandidate WindowFinder::describe(unsigned long window) {
    WindowCandidate c;
    c.id = window;
    bool found = false;
    const unsigned long pid = cardinalProperty(window, atom("_NET_WM_PID"), &found);
    if (found && pid > 0 && pid < 0x400000) {
        c.pid = pid_t(pid);
        c.executable = ProcessTree::executableOf(c.pid);
    }
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(connection_.display(), window, &hint)) {
        c.wmInstance = QString::fromLocal8Bit(hint.res_name);
        c.wmClass = QString::fromLocal8Bit(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    connection_.syncAndTakeError();
    return c;
}

unsigned long WindowFinder::transientFor(unsigned long window) {
    Window owner = 0;
    if (!XGetTransientForHint(connection_.display(), window, &owner))
        owner = 0;
    return owner;
}

WindowFinder::Role WindowFinder::roleOf(unsigned long window) {
    // Types are listed by preference; the first one we know decides.
    static const char* const known[] = {
        "_NET_WM_WINDOW_TYPE_NORMAL",        "_NET_WM_WINDOW_TYPE_DIALOG",
        "_NET_WM_WINDOW_TYPE_SPLASH",        "_NET_WM_WINDOW_TYPE_UTILITY",
        "_NET_WM_WINDOW_TYPE_TOOLBAR",       "_NET_WM_WINDOW_TYPE_MENU",
        "_NET_WM_WINDOW_TYPE_DOCK",          "_NET_WM_WINDOW_TYPE_DESKTOP",
        "_NET_WM_WINDOW_TYPE_TOOLTIP",       "_NET_WM_WINDOW_TYPE_NOTIFICATION",
        "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
        "_NET_WM_WINDOW_TYPE_COMBO",         "_NET_WM_WINDOW_TYPE_DND"};
    int kind = 0; // no type at all counts as normal
    for (unsigned long type : listProperty(window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM)) {
        const auto it = std::find_if(std::begin(known), std::end(known),
                                     [&](const char* name) { return atom(name) == type; });
        if (it != std::end(known)) {
            kind = int(it - std::begin(known));
            break;
        }
    }
    const bool modal =
        listProperty(window, atom("_NET_WM_STATE"), XA_ATOM).contains(atom("_NET_WM_STATE_MODAL"));
    const bool transient = transientFor(window) != 0;
    connection_.syncAndTakeError();
    if (modal || kind == 1 || (kind == 0 && transient))
        return Role::Dialog;
    return kind == 0 ? Role::Main : Role::Other;
}

QString WindowFinder::titleOf(unsigned long window) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    QString title;
    if (XGetWindowProperty(connection_.display(), window, atom("_NET_WM_NAME"), 0, 1024, False,
                           atom("UTF8_STRING"), &type, &format, &count, &after, &data) == Success &&
        data) {
        if (format == 8)
            title = QString::fromUtf8(reinterpret_cast<char*>(data), int(count));
        XFree(data);
    }
    if (title.isEmpty()) {
        char* name = nullptr;
        if (XFetchName(connection_.display(), window, &name) && name) {
            title = QString::fromLocal8Bit(name);
            XFree(name);
        }
    }
    connection_.syncAndTakeError();
    return title;
}

unsigned long WindowFinder::dialogOf(const Task& task, const ProcessTree& tree) {
    unsigned long found = 0;
    for (unsigned long w : clientWindows()) {
        if (w == task.window || !isUsable(w) || roleOf(w) != Role::Dialog)
            continue;
        const unsigned long owner = transientFor(w);
        if ((task.window && owner == task.window) ||
            WindowMatch::classify(describe(w), task, tree) == WindowMatch::Kind::OwnProcess)
            found = w; // bottom first: the last one is the topmost
    }
    return found;
}

unsigned long WindowFinder::findFor(const Task& task, const ProcessTree& tree) {
    // A window once found stays the task's for as long as it exists.
    if (task.window && isUsable(task.window))
        return task.window;
    unsigned long own = 0, byName = 0;
    // Bottom first: the last match found is the topmost.
    for (unsigned long w : clientWindows()) {
        const WindowMatch::Kind kind = WindowMatch::classify(describe(w), task, tree);
        if (kind == WindowMatch::Kind::NoMatch || !isUsable(w) || roleOf(w) != Role::Main)
            continue;
        (kind == WindowMatch::Kind::OwnProcess ? own : byName) = w;
    }
    return own ? own : byName;
}
