#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// A snapshot of the running processes (Toolhelp), for the family of a
// program we started: a start may go through a launcher that starts the
// real program and ends.
class WinProcesses {
public:
    static WinProcesses snapshot();

    // pid and every process it started, and they in turn. A parent PID can
    // have been reused: a process older than its supposed parent is not its
    // child.
    const std::vector<DWORD>& family(DWORD pid) const;
    bool isSelfOrDescendant(DWORD pid, DWORD ancestor) const;

    // The full path of a running process's executable ("" when not allowed).
    static std::wstring executableOf(DWORD pid);

private:
    struct Entry {
        DWORD pid;
        DWORD parent;
    };
    std::vector<Entry> entries_;
    // family() opens processes to compare their ages; asked once per window
    // found, so remember the answer for the snapshot's life.
    mutable std::map<DWORD, std::vector<DWORD>> families_;
};
