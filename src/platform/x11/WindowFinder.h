#pragma once

#include "platform/WindowSettle.h"
#include "platform/x11/WindowMatch.h"

#include <QList>

class X11Connection;

// Finds top-level client windows and what they say about their owner. With
// a window manager that keeps _NET_CLIENT_LIST the list comes from it; else
// from the window tree (WM_STATE marks clients inside reparenting frames;
// with no window manager at all the root's children are the clients).
class WindowFinder {
public:
    explicit WindowFinder(X11Connection& connection);

    // Client windows, bottom of the stack first.
    QList<unsigned long> clientWindows();
    // True when a window manager owns the screen (_NET_SUPPORTING_WM_CHECK).
    bool windowManagerRunning();
    bool supportsActiveWindowMessage();

    // Exists, is not override-redirect, and is viewable (or iconified under
    // a window manager, which can bring it back).
    bool isUsable(unsigned long window);
    WindowCandidate describe(unsigned long window);

    // Main: a normal top-level window, not transient for another, not
    // modal; the only kind that keys are typed into. Dialog: modal, of the
    // dialog type, or transient without a type of its own. Other: splash
    // screens, tool windows, menus, tooltips.
    enum class Role { Main, Dialog, Other };
    Role roleOf(unsigned long window);
    // Viewable, title and size, to tell when a new window has settled.
    WindowSettle::Look lookOf(unsigned long window);
    // The window's title (_NET_WM_NAME, else WM_NAME).
    QString titleOf(unsigned long window);
    // A usable dialog of the task (transient for its main window, or of its
    // processes), the topmost. 0: none.
    unsigned long dialogOf(const Task& task, const ProcessTree& tree);

    // The task's main window: its cached window while that exists, else the
    // topmost matching main window, own-process windows first. 0: none.
    unsigned long findFor(const Task& task, const ProcessTree& tree);

    unsigned long atom(const char* name);

private:
    // A list of 32-bit values (windows, atoms) of the given type.
    QList<unsigned long> listProperty(unsigned long window, unsigned long property,
                                      unsigned long wantedType);
    unsigned long cardinalProperty(unsigned long window, unsigned long property, bool* found);
    bool hasWmState(unsigned long window, long* state = nullptr);
    unsigned long transientFor(unsigned long window);
    unsigned long findClientBelow(unsigned long window, int depth);

    X11Connection& connection_;
};
