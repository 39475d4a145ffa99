#include "platform/win/WinProcesses.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {
// Creation time of a process, 0 when it cannot be opened.
ULONGLONG createdAt(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    ULONGLONG value = 0;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user))
        value = (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    CloseHandle(process);
    return value;
}
} // namespace

WinProcesses WinProcesses::snapshot() {
    WinProcesses result;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return result;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry))
        result.entries_.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
    CloseHandle(snap);
    return result;
}

const std::vector<DWORD>& WinProcesses::family(DWORD pid) const {
    const auto known = families_.find(pid);
    if (known != families_.end())
        return known->second;
    std::vector<DWORD>& found = families_[pid];
    if (std::none_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return e.pid == pid; }))
        return found;
    found.push_back(pid);
    for (size_t i = 0; i < found.size(); ++i) {
        const ULONGLONG parentCreated = createdAt(found[i]);
        for (const Entry& e : entries_) {
            if (e.parent != found[i] || e.pid == found[i] ||
                std::find(found.begin(), found.end(), e.pid) != found.end())
                continue;
            const ULONGLONG childCreated = createdAt(e.pid);
            if (parentCreated && childCreated && childCreated < parentCreated)
                continue; // the parent's PID was reused
            found.push_back(e.pid);
        }
    }
    return found;
}

bool WinProcesses::isSelfOrDescendant(DWORD pid, DWORD ancestor) const {
    const std::vector<DWORD>& f = family(ancestor);
    return std::find(f.begin(), f.end(), pid) != f.end();
}

std::wstring WinProcesses::executableOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return {};
    wchar_t path[MAX_PATH * 4];
    DWORD size = DWORD(sizeof(path) / sizeof(path[0]));
    std::wstring result;
    if (QueryFullProcessImageNameW(process, 0, path, &size))
        result.assign(path, size);
    CloseHandle(process);
    return result;
}
