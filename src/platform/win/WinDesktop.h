#pragma once

#include "platform/win/WinError.h"
#include "platform/win/WinKeyTyper.h"
#include "platform/win/WinReadiness.h"
#include "platform/win/WinTask.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// The Windows desktop without Qt: CreateProcessW to start programs, the
// window list and a process snapshot to find their main windows,
// SetForegroundWindow to bring them forward, SendInput to type. The same
// contract as DesktopPlatform (see there); the adapter only converts.
class WinDesktop {
public:
    // How long a newly started program may take to show its first window.
    static constexpr ULONGLONG StartupWaitMs = 30000;
    // How long after the started process ended a window of a running
    // instance it handed over to may still appear.
    static constexpr ULONGLONG HandOverMs = 3000;

    // Starts the program at path without arguments and without waiting.
    // Returns a task number 1..32767, or 0 with *error set.
    std::int16_t launch(const std::wstring& path, WinError* error);
    // nullopt: the task's main window holds the focus, is ready for keys
    // (WinReadiness) and type() may type.
    // NoTargetWindow: the program and its windows are gone, or it never
    // showed one. Other errors: ask again later (still starting, a dialog of
    // it is open, the focus was asked for).
    WinFailure activate(std::int16_t taskId);
    // Types into the window activate() last confirmed; stops with
    // TargetNotFocused as soon as the focus has left it; TypingPaused while
    // the target has still to read the keys of the last text. *typed: UTF-16
    // units of text that went out.
    WinFailure type(const std::wstring& text, size_t* typed);

    HWND confirmedWindow() const { return confirmed_; }
    std::wstring targetTitle();
    // The window class of the confirmed window ("XLMAIN" for Excel).
    std::wstring targetClass();
    WinKeyTyper& typer() { return typer_; }
    // Replaces WinActivator::integrityOf (for tests: Wine runs no process
    // with other rights).
    void setIntegrityLookup(std::function<long(DWORD pid)> lookup) {
        integrityOf_ = std::move(lookup);
    }

private:
    WinFailure findAndFocus(std::int16_t taskId);
    WinFailure notFocused(WinTask& task, const class WinProcesses& processes);
    // A window that cannot take keys: of higher rights, or with no workbook.
    WinFailure cannotTakeKeys(const WinTask& task, HWND window) const;
    void noteExit(WinTask& task);

    WinTaskTable tasks_;
    WinKeyTyper typer_;
    WinReadiness readiness_;
    HWND confirmed_ = nullptr;
    std::function<long(DWORD pid)> integrityOf_;
    bool continuing_ = false; // the last type() yielded in the middle of its text
};
