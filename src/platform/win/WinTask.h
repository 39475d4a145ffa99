#pragma once

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

// Hands out task numbers 1..32767, cycling, never one still in use. When
// every number is taken the oldest task is dropped.
class WinTaskTable {
public:
    static constexpr std::int16_t MaxId = 32767;

    WinTask& add(WinTask task); // assigns task.id
    WinTask* find(std::int16_t id);

private:
    std::map<std::int16_t, WinTask> tasks_;
    std::map<std::int16_t, std::uint64_t> order_;
    std::int16_t lastId_ = 0;
    std::uint64_t serial_ = 0;
};
