#pragma once

#include "platform/WindowMatch.h"

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

    // The best window of the task: its cached window while that exists,
    // else the topmost match, own-process windows first. 0: none.
    unsigned long findFor(const Task& task, const ProcessTree& tree);

    unsigned long atom(const char* name);

private:
    QList<unsigned long> windowListProperty(unsigned long window, unsigned long property);
    unsigned long cardinalProperty(unsigned long window, unsigned long property, bool* found);
    bool hasWmState(unsigned long window, long* state = nullptr);
    unsigned long findClientBelow(unsigned long window, int depth);

    X11Connection& connection_;
};
