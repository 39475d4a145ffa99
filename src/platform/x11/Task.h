#pragma once

#include "platform/WindowSettle.h"

#include <QSet>
#include <QString>
#include <cstdint>
#include <sys/types.h>

// A program we started, and what we learnt about it while looking for its
// window.
struct Task {
    std::int16_t id = 0;
    pid_t pid = 0;
    QString path;                        // as given to launch()
    std::int64_t launchedAtMs = 0;       // monotonic clock
    QSet<unsigned long> windowsAtLaunch; // client windows that already existed
    QSet<QString> executables;           // resolved exe paths seen in its process family
    bool hadWindow = false;              // a window was ever found for it
    unsigned long window = 0;            // the window last found (0: none)
    unsigned windowToken = 0;            // its X11Connection::watch() token
    std::int64_t focusAskedAtMs = -1;    // when the focus was last asked for
    std::int64_t exitedAtMs = -1;        // when the started process ended (-1: runs)
    int exitStatus = 0;                  // its exit status, or 128 + the signal
    WindowSettle settle;                 // whether its window is ready for keys
};
