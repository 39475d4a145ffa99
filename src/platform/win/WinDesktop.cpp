#include "platform/win/WinDesktop.h"

#include "platform/win/WinActivator.h"
#include "platform/win/WinProcesses.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWindows.h"

#include <cstdio>
#include <vector>

namespace {
long long nowMs() {
    return static_cast<long long>(GetTickCount64());
}

std::string quoted(const std::wstring& path) {
    return "\"" + WinText::utf8(path) + "\"";
}

// What the user calls the program: its file description ("LibreOffice"),
// else its file name.
std::string displayName(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> data(size);
    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    UINT length = 0;
    if (size && GetFileVersionInfoW(path.c_str(), 0, size, data.data()) &&
        VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translations), &length) &&
        length >= sizeof(Translation)) {
        wchar_t key[64];
        swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translations->language,
                 translations->codePage);
        wchar_t* text = nullptr;
        if (VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&text), &length) &&
            length > 1)
            return WinText::utf8(std::wstring(text, length - 1));
    }
    const size_t cut = path.find_last_of(L"\\/");
    return WinText::utf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

// Exit codes above 0xFFFF are NTSTATUS values (0xC0000005: access violation).
std::string exitCodeText(DWORD code) {
    if (code <= 0xFFFF)
        return std::to_string(code);
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08lX", static_cast<unsigned long>(code));
    return hex;
}
} // namespace

std::int16_t WinDesktop::launch(const std::wstring& path, WinError* error) {
    const auto fail = [&](const std::string& why) -> std::int16_t {
        if (error)
            *error =
                WinError{WinErr::FileNotStartable, "Cannot start " + quoted(path) + ": " + why};
        return 0;
    };
    const DWORD attributes =
        path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail("the file does not exist.");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return fail("it is not a file.");

    WinTask task;
    task.path = path;
    for (HWND w : WinWindows::topLevel())
        task.windowsAtLaunch.insert(w);
    task.launchedAtMs = GetTickCount64();
    // The path as the whole command line, quoted: no arguments, and a path
    // with spaces is not split.
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info))
        return fail("the system could not run it (" + WinText::systemMessage(GetLastError()) +
                    ").");
    CloseHandle(info.hThread);
    task.pid = info.dwProcessId;
    task.process = std::shared_ptr<void>(info.hProcess, CloseHandle);
    return tasks_.add(std::move(task)).id;
}

void WinDesktop::noteExit(WinTask& task) {
    if (task.exitedAtMs >= 0 || !task.process)
        return;
    DWORD code = 0;
    if (WaitForSingleObject(task.process.get(), 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(task.process.get(), &code))
        return;
    task.exitedAtMs = nowMs();
    task.exitCode = code;
}

WinFailure WinDesktop::activate(std::int16_t taskId) {
    WinFailure f = findAndFocus(taskId);
    if (f) {
        readiness_.interrupted();
        return f;
    }
    if (const std::string holder = WinActivator::keyboardHolder(); !holder.empty()) {
        confirmed_ = nullptr;
        readiness_.interrupted();
        return WinError{WinErr::KeyboardHeld, holder};
    }
    if (!readiness_.ready(confirmed_)) {
        const std::wstring title = WinWindows::titleOf(confirmed_);
        confirmed_ = nullptr;
        return WinError{WinErr::TargetNotFocused,
                        "waiting for \"" + WinText::utf8(title) + "\" to take keys again"};
    }
    return std::nullopt;
}

WinFailure WinDesktop::findAndFocus(std::int16_t taskId) {
    confirmed_ = nullptr;
    WinTask* task = tasks_.find(taskId);
    if (!task)
        return WinError{WinErr::NoTargetWindow,
                        "No program was started as task " + std::to_string(taskId) + "."};
    // Fast path, taken before every line: the known window still has the focus.
    if (task->window && WinWindows::isUsable(task->window) &&
        WinActivator::hasFocus(task->window)) {
        if (WinFailure refused = cannotTakeKeys(*task, task->window))
            return refused;
        confirmed_ = task->window;
        return std::nullopt;
    }
    const WinProcesses processes = WinProcesses::snapshot();
    for (DWORD pid : processes.family(task->pid)) {
        const std::wstring exe = WinProcesses::executableOf(pid);
        if (!exe.empty())
            task->executables.insert(exe);
    }
    const HWND window = WinWindows::findFor(*task, processes);
    if (!window) {
        task->window = nullptr;
        noteExit(*task);
        // Ended without a window, and without handing over to an instance
        // that shows one: nothing will come.
        if (!task->hadWindow && task->exitedAtMs >= 0 &&
            nowMs() - task->exitedAtMs >= static_cast<long long>(HandOverMs))
            return WinError{WinErr::NoTargetWindow,
                            quoted(task->path) + " ended with exit code " +
                                exitCodeText(task->exitCode) +
                                " and showed no window. Choose a program with a window."};
        // A program just started may not have shown its window yet.
        if (!task->hadWindow && GetTickCount64() - task->launchedAtMs < StartupWaitMs)
            return WinError{WinErr::TargetStarting,
                            "waiting for the window of " + quoted(task->path) + " to appear"};
        return WinError{WinErr::NoTargetWindow, "The window of " + quoted(task->path) +
                                                    " was not found; it may have ended."};
    }
    if (window != task->window)
        task->focusAskedAtMs = -1;
    task->window = window;
    task->hadWindow = true;
    if (WinFailure refused = cannotTakeKeys(*task, window))
        return refused;
    if (WinActivator::hasFocus(window)) {
        confirmed_ = window;
        return std::nullopt;
    }
    return notFocused(*task, processes);
}

// Checked before every line, on the fast path too: the user may bring the
// window forward by hand, and keys into it would vanish with no error.
WinFailure WinDesktop::cannotTakeKeys(const WinTask& task, HWND window) const {
    if (WinWindows::showsNoWorkbook(window))
        return WinError{WinErr::TargetBusy, "the target shows no workbook (its start screen): "
                                            "open one in it, and the readings go there"};
    const auto& lookup = integrityOf_ ? integrityOf_ : WinActivator::integrityOf;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const WinActivator::Rights rights =
        WinActivator::rightsFor(lookup(pid), lookup(GetCurrentProcessId()));
    if (rights == WinActivator::Rights::Typable)
        return std::nullopt;
    const std::string name = displayName(task.path);
    const std::string advice = ": start Parvelo the same way, or the program without elevation";
    return WinError{WinErr::TargetBusy,
                    rights == WinActivator::Rights::Higher
                        ? name + " runs as administrator" + advice
                        : "Windows does not let Parvelo see whether " + name +
                              " runs as administrator, when keys into it would be lost" + advice};
}

WinFailure WinDesktop::notFocused(WinTask& task, const WinProcesses& processes) {
    // A dialog of the target in front of its main window: the user has to
    // answer it. Asking for the main window would only take the focus from
    // whatever the user is doing meanwhile.
    // A menu of the target is open (or the user moves or sizes it): the
    // user is choosing something; asking for the focus would close it.
    if (WinActivator::menuOrMove(task.window))
        return WinError{WinErr::TargetBusy, "the target has a menu open"};
    std::wstring title;
    if (WinWindows::blockingDialog(task, processes, &title))
        return WinError{WinErr::TargetBusy, title.empty() ? "the target shows a dialog"
                                                          : "the target shows the dialog \"" +
                                                                WinText::utf8(title) + "\""};
    // Ask again only now and then: repeated requests would fight a user who
    // works elsewhere. Never while a mouse button is down: a button whose
    // window loses the focus between press and release forgets the press,
    // so a click on Stop would come to nothing.
    constexpr long long AskAgainMs = 500;
    if ((task.focusAskedAtMs < 0 || nowMs() - task.focusAskedAtMs >= AskAgainMs) &&
        !WinActivator::buttonHeld()) {
        task.focusAskedAtMs = nowMs();
        // Even a granted request leaves the focus inside the target to be
        // set by its own thread: confirm on a later call.
        WinActivator::request(task.window);
    }
    return WinError{WinErr::TargetNotFocused, "the target window does not have the keyboard focus"};
}

std::wstring WinDesktop::targetTitle() {
    return confirmed_ ? WinWindows::titleOf(confirmed_) : std::wstring();
}

std::wstring WinDesktop::targetClass() {
    if (!confirmed_)
        return {};
    wchar_t name[256];
    const int n = GetClassNameW(confirmed_, name, 256);
    return n > 0 ? std::wstring(name, size_t(n)) : std::wstring();
}

WinFailure WinDesktop::type(const std::wstring& text, size_t* typed) {
    *typed = 0;
    // The focus may have moved since activate(): never type elsewhere.
    const HWND window = confirmed_;
    if (!window)
        return WinError{WinErr::TargetNotFocused, "the keyboard focus left the target window"};
    // A new text waits until the target has read the keys of the last one;
    // the rest of a text that yielded goes on at once.
    if (!continuing_ && WinActivator::hasFocus(window) && !readiness_.caughtUp())
        return WinError{WinErr::TypingPaused, "the target has not yet read the keys typed before"};
    std::string holder;
    WinFailure f = typer_.type(
        text,
        [window, &holder] {
            holder = WinActivator::keyboardHolder();
            return holder.empty() && WinActivator::hasFocus(window);
        },
        typed);
    if (f && f->number == WinErr::TargetNotFocused && !holder.empty())
        f->text = holder;
    continuing_ = f && f->number == WinErr::TypingYielded;
    if (*typed > 0)
        readiness_.sent(window);
    if (f && f->number == WinErr::TargetNotFocused) {
        confirmed_ = nullptr;
        readiness_.interrupted();
    }
    return f;
}
