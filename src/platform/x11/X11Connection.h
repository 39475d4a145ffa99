#pragma once

#include <QHash>
#include <QString>

struct _XDisplay;

// One Xlib connection, kept open for the life of the platform (opening one
// per line would cost more than typing the line). X errors on it are
// collected instead of ending the program.
class X11Connection {
public:
    explicit X11Connection(const QString& displayName = {});
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    bool isOpen() const { return display_ != nullptr; }
    _XDisplay* display() const { return display_; }
    QString name() const { return name_; }
    unsigned long root() const;
    bool hasXTest() const { return hasXTest_; }
    bool hasXkb() const { return hasXkb_; }
    int xkbEventBase() const { return xkbEventBase_; }

    // Reads queued events: notes keymap changes and destroyed windows that
    // we watch. Everything else on this connection is answered synchronously.
    void pumpEvents();
    bool takeKeymapChanged();
    // Watch a window so that its destruction is noticed even if another
    // window later gets the same id (ids of a gone client are handed out
    // again, so a client started next often gets the very same window id).
    // Returns a token for wasDestroyed().
    unsigned watch(unsigned long window);
    // True when the window watched with token has been destroyed since.
    bool wasDestroyed(unsigned long window, unsigned token);

    // Round trip; returns the first X error code raised by our requests
    // since the last call (0: none).
    int syncAndTakeError();
    // The error code of the first error since the last take, without a round trip.
    int takeError();

private:
    _XDisplay* display_ = nullptr;
    QString name_;
    bool hasXTest_ = false;
    bool hasXkb_ = false;
    int xkbEventBase_ = -1;
    bool keymapChanged_ = false;
    QHash<unsigned long, unsigned> destroyCount_;
};
