#include "platform/win/WinWindows.h"

#include "platform/win/WinText.h"

#include <dwmapi.h>

#include <algorithm>

namespace {
BOOL CALLBACK collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

bool isGeneric(const std::wstring& name) {
    static const wchar_t* const names[] = {L"cmd",     L"powershell", L"pwsh",     L"wscript",
                                           L"cscript", L"conhost",    L"rundll32", L"explorer",
                                           L"start",   L"msiexec",    L"wine",     L"wine64"};
    return std::any_of(std::begin(names), std::end(names),
                       [&](const wchar_t* n) { return name == n; });
}

// The folder of a program of its own; system folders say nothing.
std::wstring programFolder(const std::wstring& path) {
    const std::wstring folder = WinText::lowerFolder(path);
    const std::wstring last = WinText::lowerFileName(folder);
    if (folder.empty() || last == L"windows" || last == L"system32" || last == L"syswow64")
        return {};
    return folder;
}

bool relatedByName(const std::wstring& exe, const WinTask& task) {
    if (exe.empty())
        return false;
    std::vector<std::wstring> paths(task.executables.begin(), task.executables.end());
    paths.push_back(task.path);
    const std::wstring name = WinWindows::programName(exe);
    const std::wstring folder = programFolder(exe);
    for (const std::wstring& p : paths) {
        const std::wstring n = WinWindows::programName(p);
        if (!n.empty() && n == name)
            return true;
        if (!n.empty() && !folder.empty() && programFolder(p) == folder)
            return true;
    }
    return false;
}

DWORD processOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool isFrame(HWND window) {
    return classOf(window) == L"ApplicationFrameWindow";
}

// The process a window stands for. A packaged app (Calculator, Windows 11's
// Notepad) shows its window in a frame of ApplicationFrameHost.exe; the
// app's own process owns only a child of that frame.
DWORD contentProcessOf(HWND window) {
    struct Search {
        DWORD frame;
        DWORD content;
    } search{processOf(window), 0};
    if (isFrame(window))
        EnumChildWindows(
            window,
            [](HWND child, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                const DWORD pid = processOf(child);
                if (pid && pid != s->frame)
                    s->content = pid;
                return s->content == 0;
            },
            reinterpret_cast<LPARAM>(&search));
    return search.content ? search.content : search.frame;
}

bool inFamily(const std::vector<DWORD>& family, DWORD pid) {
    return std::find(family.begin(), family.end(), pid) != family.end();
}
} // namespace

std::vector<HWND> WinWindows::topLevel() {
    std::vector<HWND> windows;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool WinWindows::isUsable(HWND window) {
    if (!window || !IsWindow(window) || !IsWindowVisible(window))
        return false;
    DWORD cloaked = 0;
    if (SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) &&
        cloaked)
        return false;
    return true;
}

WinWindows::Role WinWindows::roleOf(HWND window) {
    if (classOf(window) == L"#32770")
        return Role::Dialog;
    const LONG_PTR ex = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (ex & (WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE))
        return Role::Other;
    if (GetWindow(window, GW_OWNER))
        return Role::Dialog;
    return Role::Main;
}

std::wstring WinWindows::titleOf(HWND window) {
    // For another process's window this reads the stored caption and sends
    // nothing, so a hung target cannot hang us.
    wchar_t title[512] = {};
    const int length = GetWindowTextW(window, title, 512);
    return std::wstring(title, size_t(length > 0 ? length : 0));
}

bool WinWindows::showsNoWorkbook(HWND window) {
    if (classOf(window) != L"XLMAIN")
        return false;
    // Its workbooks are EXCEL7 windows in its XLDESK.
    const HWND desk = FindWindowExW(window, nullptr, L"XLDESK", nullptr);
    return !desk || !FindWindowExW(desk, nullptr, L"EXCEL7", nullptr);
}

std::wstring WinWindows::programName(const std::wstring& executablePath) {
    std::wstring name = WinText::lowerFileName(executablePath);
    for (const wchar_t* suffix : {L".exe", L".com", L".bat", L".cmd"}) {
        const size_t n = wcslen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
            name.resize(name.size() - n);
            break;
        }
    }
    return isGeneric(name) ? std::wstring() : name;
}

WinWindows::Match WinWindows::classify(HWND window, const WinTask& task,
                                       const WinProcesses& processes) {
    const DWORD pid = contentProcessOf(window);
    if (pid && processes.isSelfOrDescendant(pid, task.pid))
        return Match::OwnProcess;
    if (task.hadWindow)
        return Match::None;
    // A window that was open at the launch counts only once the started
    // process has ended without one of its own: it handed over to the
    // running instance (Windows 11's Notepad opens a tab in its window).
    const bool ended = task.exitedAtMs >= 0;
    if (task.windowsAtLaunch.count(window) && !ended)
        return Match::None;
    if (relatedByName(WinProcesses::executableOf(pid), task))
        return Match::ByName;
    // A stub that starts a packaged app by another name (calc.exe) and
    // ends: the frame that appeared since is the app's.
    return ended && !task.windowsAtLaunch.count(window) && isFrame(window) ? Match::ByName
                                                                           : Match::None;
}

HWND WinWindows::findFor(const WinTask& task, const WinProcesses& processes) {
    // A window once found stays the task's for as long as it exists.
    if (task.window && isUsable(task.window))
        return task.window;
    HWND own = nullptr, byName = nullptr;
    for (HWND w : topLevel()) { // topmost first: the first match wins
        if (!isUsable(w) || roleOf(w) != Role::Main)
            continue;
        const Match match = classify(w, task, processes);
        if (match == Match::OwnProcess && !own)
            own = w;
        else if (match == Match::ByName && !byName)
            byName = w;
    }
    return own ? own : byName;
}

HWND WinWindows::blockingDialog(const WinTask& task, const WinProcesses& processes,
                                std::wstring* title) {
    title->clear();
    const std::vector<DWORD>& family = processes.family(task.pid);
    const auto ofTask = [&](HWND w) {
        return w && w != task.window && isUsable(w) && roleOf(w) == Role::Dialog &&
               ((task.window && GetWindow(w, GW_OWNER) == task.window) ||
                inFamily(family, processOf(w)));
    };
    HWND found = nullptr;
    const HWND foreground = GetForegroundWindow();
    if (ofTask(foreground)) {
        found = foreground;
    } else if (task.window && !IsWindowEnabled(task.window)) {
        // Disabled by a modal dialog: the popup it activated last is that
        // dialog (owned palettes are dialogs too, but not the one to answer).
        const HWND popup = GetLastActivePopup(task.window);
        // Else the dialog is not visible yet, or of another kind: the main
        // window takes no keys either way.
        found = ofTask(popup) ? popup : task.window;
    }
    if (found && found != task.window)
        *title = titleOf(found);
    return found;
}
