#pragma once

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
};
