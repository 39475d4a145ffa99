#pragma once

#include "base/AppError.h"

#include <QString>

class X11Connection;
class WindowFinder;

// Asks for a window to be brought to the front, and tells where the input
// focus is. Through the window manager when it supports _NET_ACTIVE_WINDOW,
// else directly with XRaiseWindow and XSetInputFocus. Never waits: the
// caller checks hasFocus() again later.
class WindowActivator {
public:
    WindowActivator(X11Connection& connection, WindowFinder& finder);
    ~WindowActivator();
    WindowActivator(const WindowActivator&) = delete;
    WindowActivator& operator=(const WindowActivator&) = delete;

    void request(unsigned long window);
    // A mouse button is down: the user is in the middle of a click or a drag.
    bool buttonHeld();
    // The focus is on window or on one of its descendants.
    bool hasFocus(unsigned long window);
    // Why keys would not reach the focus now: another client holds an active
    // grab (a screen locker, an open menu of another program, a drag), and
    // the X server hands every key to it whatever has the focus. Empty when
    // none does.
    QString grabbedBy();
    // A current server timestamp (from a PropertyNotify on a window of ours).
    unsigned long serverTime();

private:
    X11Connection& connection_;
    WindowFinder& finder_;
    unsigned long timeWindow_ = 0;
    unsigned long timeAtom_ = 0;
};
