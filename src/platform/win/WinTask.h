#pragma once

#include "platform/TaskNumbers.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

// A program we started, and what we learnt about it while looking for its
// window.
struct WinTask {
    std::int16_t id = 0;
    DWORD pid = 0;
    std::shared_ptr<void> process;      // its handle: keeps the PID from reuse, gives the exit code
    std::wstring path;                  // as given to launch()
    ULONGLONG launchedAtMs = 0;         // GetTickCount64
    std::set<HWND> windowsAtLaunch;     // top-level windows that already existed
    std::set<std::wstring> executables; // exe paths seen in its process family
    bool hadWindow = false;             // a window was ever found for it
    HWND window = nullptr;              // the window last found
    long long focusAskedAtMs = -1;      // when the focus was last asked for
    long long exitedAtMs = -1;          // when the started process ended (-1: runs)
    DWORD exitCode = 0;
};

using WinTaskTable = TaskNumbers<WinTask>;
