#pragma once

#include "platform/x11/ProcessTree.h"
#include "platform/x11/Task.h"

// What we know of a top-level client window.
struct WindowCandidate {
    unsigned long id = 0;
    pid_t pid = 0;      // _NET_WM_PID, 0 when the client sets none
    QString executable; // /proc/<pid>/exe, when readable
    QString wmInstance; // WM_CLASS
    QString wmClass;
};

// Decides whether a window belongs to a task:
//  1. its _NET_WM_PID is the task's process or a descendant of it; else
//  2. it must be new (not there at launch) and related by name: its
//     executable has the basename of, or lives in the same program folder
//     (not a */bin folder) as, the launched program or an executable seen in
//     the task's process family; or its WM_CLASS equals one of those
//     basenames. That covers a program that handed over to an instance that
//     was already running, and clients without _NET_WM_PID. It only counts
//     while the task never had a window, or, for a window without
//     _NET_WM_PID, while the task's processes still live: a task whose own
//     window has gone must never pick up some other window.
namespace WindowMatch {
enum class Kind { NoMatch, OwnProcess, ByName };

Kind classify(const WindowCandidate& window, const Task& task, const ProcessTree& tree);

// "soffice.bin" -> "soffice"; shells and interpreters give "" (they say
// nothing about which program it is).
QString programName(const QString& executablePath);
} // namespace WindowMatch
