#include "platform/x11/KeyLoans.h"

#include "platform/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {
bool isRunning(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH);
}

// Programs on other hosts may share the X server; a process id only says
// something on its own host.
std::uint32_t thisHost() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char* c = name; *c; ++c)
        hash = (hash ^ std::uint8_t(*c)) * 16777619u;
    return hash & 0x7fffffff;
}

bool isOurs(const KeyLoans::Entry& e) {
    return e.pid == ::getpid() && e.host == thisHost();
}

// Read, change and write the property with the server grabbed, so that two
// instances starting at once cannot lose each other's records.
class ServerGrab {
public:
    explicit ServerGrab(Display* dpy) : dpy_(dpy) { XGrabServer(dpy_); }
    ~ServerGrab() {
        XUngrabServer(dpy_);
        XFlush(dpy_);
    }

private:
    Display* dpy_;
};
} // namespace

KeyLoans::KeyLoans(X11Connection& connection) : connection_(connection) {
    if (connection_.isOpen())
        atom_ = XInternAtom(connection_.display(), "_PARVELO_KEY_LOANS", False);
}

KeyLoans::~KeyLoans() {
    replaceOwn({});
}

void KeyLoans::replaceOwn(const std::vector<Entry>& own) {
    if (!atom_)
        return;
    ServerGrab grab(connection_.display());
    std::vector<Entry> kept;
    for (const Entry& e : entries())
        if (!isOurs(e))
            kept.push_back(e);
    kept.insert(kept.end(), own.begin(), own.end());
    write(kept);
}

std::vector<KeyLoans::Entry> KeyLoans::entries() const {
    std::vector<Entry> out;
    if (!atom_)
        return out;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(connection_.display(), connection_.root(), atom_, 0, 1 << 16, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && data) {
        // Format 32 comes back as longs.
        const long* values = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i + 3 < count; i += 4)
            out.push_back({pid_t(values[i]), std::uint32_t(values[i + 1]),
                           std::uint8_t(values[i + 2]), static_cast<unsigned long>(values[i + 3])});
    }
    if (data)
        XFree(data);
    return out;
}

void KeyLoans::write(const std::vector<Entry>& entries) {
    Display* dpy = connection_.display();
    if (entries.empty()) {
        XDeleteProperty(dpy, connection_.root(), atom_);
        return;
    }
    std::vector<long> values;
    for (const Entry& e : entries) {
        values.push_back(e.pid);
        values.push_back(long(e.host));
        values.push_back(e.keycode);
        values.push_back(long(e.keysym));
    }
    XChangeProperty(dpy, connection_.root(), atom_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()), int(values.size()));
}

int KeyLoans::recoverFromDeadInstances() {
    if (!atom_)
        return 0;
    Display* dpy = connection_.display();
    int givenBack = 0;
    bool deadFound = false;
    {
        ServerGrab grab(dpy);
        std::vector<Entry> kept;
        for (const Entry& e : entries()) {
            if (isOurs(e))
                continue;
            if (e.host != thisHost() || isRunning(e.pid)) {
                kept.push_back(e);
                continue;
            }
            deadFound = true;
            if (!e.keycode)
                continue;
            // Only a key that still carries what we gave it: someone may
            // have remapped it since.
            int perCode = 0;
            KeySym* syms = XGetKeyboardMapping(dpy, e.keycode, 1, &perCode);
            const bool ours = syms && perCode > 0 && syms[0] == e.keysym;
            if (syms)
                XFree(syms);
            if (ours) {
                KeySym none[2] = {NoSymbol, NoSymbol};
                XChangeKeyboardMapping(dpy, e.keycode, 2, none, 1);
                ++givenBack;
            }
        }
        kept.push_back({::getpid(), thisHost(), 0, 0});
        write(kept);
    }
    if (deadFound)
        releaseModifiers();
    XSync(dpy, False);
    return givenBack;
}

void KeyLoans::record(const std::vector<Loan>& loans) {
    std::vector<Entry> own{{::getpid(), thisHost(), 0, 0}};
    for (const auto& [keycode, keysym] : loans)
        own.push_back({::getpid(), thisHost(), keycode, keysym});
    replaceOwn(own);
}

void KeyLoans::releaseModifiers() {
    // An instance killed between pressing Shift and releasing it leaves the
    // key down in the server, and every letter typed anywhere comes out in
    // capitals. Release whatever modifier key is down.
    Display* dpy = connection_.display();
    XModifierKeymap* map = XGetModifierMapping(dpy);
    if (!map)
        return;
    char down[32];
    XQueryKeymap(dpy, down);
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        const KeyCode kc = map->modifiermap[i];
        if (kc && (down[kc / 8] & (1 << (kc % 8))))
            XTestFakeKeyEvent(dpy, kc, False, CurrentTime);
    }
    XFreeModifiermap(map);
}
