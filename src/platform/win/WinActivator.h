#pragma once

#include <windows.h>

#include <string>

// Brings a window to the front and tells whether it holds the keyboard
// focus. Never waits: the caller asks hasFocus() again later.
namespace WinActivator {
// window is the foreground window and, by GetGUIThreadInfo, the focus of its
// thread is window or one of its children, with no menu open and no move or
// resize under way.
bool hasFocus(HWND window);

// The window that has the keyboard focus in window's thread, or nullptr.
HWND focusOf(HWND window);

// The thread of window shows a menu (its own, a context menu or the system
// menu) or moves or sizes a window.
bool menuOrMove(HWND window);

// Restores a minimised window and asks for the foreground. Windows refuses
// a process that did not get the last input (the foreground lock), and says
// so only by leaving the foreground where it was; so, in turn until one
// works: SetForegroundWindow; attached to the input of the foreground
// window's thread; after an input event of ours (an unassigned key, then
// Alt with that key, so that the target's menu does not open). True when
// the window is the foreground window now.
bool request(HWND window);

// A mouse button is down: the user is in the middle of a click or a drag.
bool buttonHeld();

// Why keys would not reach any window of ours: the input goes to another
// desktop (the lock screen, a UAC prompt: the secure desktop, which no
// ordinary program may open). Empty when the keyboard is the desktop's.
std::string keyboardHolder();

// The integrity level of a process (SECURITY_MANDATORY_*_RID), or -1 when
// Windows does not let us read it: an elevated process of another account.
long integrityOf(DWORD pid);

// Windows drops input sent to a process of higher integrity (one running as
// administrator when we do not), and SendInput does not say so. A target
// whose level cannot be read counts as higher unless we are elevated
// ourselves: that is what an unreadable level means in practice. Levels as
// integrityOf() gives them; our own unreadable is taken as nothing known
// against the target.
enum class Rights { Typable, Higher, Unknown };
Rights rightsFor(long target, long self);
} // namespace WinActivator
