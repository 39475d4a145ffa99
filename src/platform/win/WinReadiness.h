#pragma once

#include <windows.h>

// Whether the target window is ready for keys, and whether it has read the
// keys sent so far. Both are told by painting: a thread paints only once it
// has read every key and message waiting for it and is back in its message
// loop. So one pixel of the window that takes the keys is marked for
// painting; once it is painted, the thread has caught up.
//
// Ready: when a menu, a dialog or another program was in front of the
// window, its thread may still be busy with what the user chose there. A
// menu item that opens a dialog closes the menu first, and keys sent
// before the dialog is up would go into the dialog. So after any
// interruption (and for a window not yet typed into) the window must hold
// the focus for QuietMs and then paint: whatever its thread was busy
// opening is on screen by then, and seen as such.
//
// Caught up: a target slower than the instrument would otherwise collect a
// backlog of keys, and keys still waiting in its queue go wherever its
// focus is once it reads them (into a dialog the user opens meanwhile), or
// are dropped when it loses the activation (under Wine).
//
// Never waits: the caller asks again later.
class WinReadiness {
public:
    static constexpr ULONGLONG QuietMs = 700;
    // A window that does not paint (hidden, or its program hangs) is not
    // waited for longer than this.
    static constexpr ULONGLONG PaintWaitMs = 3000;

    // Something else than the window took the focus or stood in front of it.
    void interrupted() { window_ = nullptr; }
    // window holds the focus now; true once it is ready.
    bool ready(HWND window);

    // Keys went to the focus of window's thread.
    void sent(HWND window);
    // The keys sent last have been read (or that cannot be told).
    bool caughtUp();

private:
    HWND window_ = nullptr;
    ULONGLONG focusedSince_ = 0;
    bool probed_ = false;
    bool ready_ = false;
    HWND painted_ = nullptr; // the window whose painting tells, nullptr: none
    ULONGLONG markedAt_ = 0;
};
