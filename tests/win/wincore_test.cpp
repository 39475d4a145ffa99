// The Windows desktop core under Wine: typing into an edit control of ours,
// read back with WM_GETTEXT; finding and activating the main window of a
// launched program while another window of ours has the focus; programs that
// end. Run by run-wine.sh; prints each check and "N passed, M failed".
//
// usage: wincore_test.exe FOLDER (where wintarget.exe and winquit.exe are)
#include "base/win/FileRename.h"
#include "platform/win/WinActivator.h"
#include "platform/win/WinAppPaths.h"
#include "platform/win/WinDesktop.h"
#include "platform/win/WinProcesses.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWindows.h"
#include "serial/win/PortRecovery.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {
int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what, const std::string& detail = {}) {
    (ok ? passed : failed)++;
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
}

void pump(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount64() < until);
}

bool waitFor(const std::function<bool()>& condition, DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    while (!condition()) {
        if (GetTickCount64() >= until)
            return false;
        pump(20);
    }
    return true;
}

// Shows a string with its control characters and non-ASCII as escapes.
std::string shown(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        char buf[16];
        if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else {
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out;
}

std::wstring textOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, LPARAM(text.data()), SMTO_ABORTIFHUNG, 2000,
                        &got);
    text.resize(got);
    return text;
}

// A top-level window of ours with a multiline edit control that counts the
// keys it gets and notes a modifier that is down while one arrives.
struct Probe {
    HWND window = nullptr;
    HWND edit = nullptr;
    int keys = 0;
    int presses = 0; // of keys that type, and their releases
    int releases = 0;
    bool modifierSeen = false;
    // The keys that type, as they came: virtual key, and whether Shift was down.
    std::vector<std::pair<WPARAM, bool>> downs;
};
WNDPROC editProc = nullptr;

LRESULT CALLBACK probeEditProc(HWND edit, UINT message, WPARAM w, LPARAM l) {
    auto* probe = reinterpret_cast<Probe*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
    const bool keyDown = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool keyUp = message == WM_KEYUP || message == WM_SYSKEYUP;
    // The unassigned key that masks an Alt or Win release comes while that
    // key is still down, on purpose; it types nothing.
    const bool typingKey = w != 0xE8 && w != VK_SHIFT && w != VK_CONTROL && w != VK_MENU &&
                           w != VK_LWIN && w != VK_RWIN;
    if (probe && (keyDown || message == WM_CHAR || message == WM_SYSCHAR)) {
        probe->keys++;
        // Shift is ours to press for a key of the layout, never for a
        // Unicode event (VK_PACKET); Ctrl, Alt and Win are never ours on
        // the layout the tests run with.
        for (int vk : {VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN})
            if ((!keyDown || typingKey) && (GetKeyState(vk) & 0x8000))
                probe->modifierSeen = true;
        if (keyDown && w == VK_PACKET && (GetKeyState(VK_SHIFT) & 0x8000))
            probe->modifierSeen = true;
    }
    if (probe && typingKey && keyDown) {
        probe->presses++;
        probe->downs.push_back({w, (GetKeyState(VK_SHIFT) & 0x8000) != 0});
    }
    if (probe && typingKey && keyUp)
        probe->releases++;
    return CallWindowProcW(editProc, edit, message, w, l);
}

LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS) {
        if (HWND edit = FindWindowExW(window, nullptr, L"EDIT", nullptr))
            SetFocus(edit);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

void makeProbe(Probe& probe, const wchar_t* title, int x) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = probeProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"ParveloTestProbe";
        RegisterClassW(&wc);
        registered = true;
    }
    probe.window = CreateWindowExW(0, L"ParveloTestProbe", title, WS_OVERLAPPEDWINDOW, x, 300, 420,
                                   260, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    probe.edit = CreateWindowExW(
        0, L"EDIT", L"",
        WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL, 8, 8,
        390, 200, probe.window, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(probe.edit, GWLP_USERDATA, LONG_PTR(&probe));
    editProc = WNDPROC(SetWindowLongPtrW(probe.edit, GWLP_WNDPROC, LONG_PTR(probeEditProc)));
    ShowWindow(probe.window, SW_SHOW);
}

bool focusOn(const Probe& probe) {
    return waitFor(
        [&] {
            if (WinActivator::hasFocus(probe.window))
                return true;
            SetForegroundWindow(probe.window);
            SetFocus(probe.edit);
            return false;
        },
        5000);
}

INPUT keyEvent(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

bool down(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

// Types all of text, going on after each TypingYielded as the program does.
WinFailure typeAll(const std::function<WinFailure(const std::wstring&, size_t*)>& type,
                   const std::wstring& text, size_t* typed) {
    *typed = 0;
    while (true) {
        size_t n = 0;
        WinFailure f = type(text.substr(*typed), &n);
        *typed += n;
        if (!f || (f->number != WinErr::TypingYielded && f->number != WinErr::TypingPaused))
            return f;
        pump(f->number == WinErr::TypingPaused ? 25 : 1);
    }
}

std::string describe(const WinFailure& f) {
    return f ? std::to_string(f->number) + " " + f->text : std::string("no error");
}

// The lines of the X11 capture tests and the characters Windows typists are
// known to get wrong, with every kind of line end.
void typingGroup() {
    std::printf("-- typing into an edit control of ours\n");
    const std::vector<std::wstring> lines = {L"+0012.345 g",
                                             L"+ % ^ ~ ( ) { } [ ]",
                                             L"11",
                                             L"1.511",
                                             L"100",
                                             L"23.5 \u00B0C",
                                             L"5 \u00B5m \u00B1 0.1",
                                             L"caf\u00E9 \u00E9",
                                             L"\u65E5\u672C\u8A9E",
                                             L"a\tb",
                                             L"!\"#$&'*,-./:;<=>?@\\_`|",
                                             L"\u00B0\u00B5\u00B1\u00E9",
                                             L"clef \U0001D11E and \U00020B9F beyond the BMP",
                                             L"aa\u00E9\u00E9\u65E5\u65E5"};
    std::wstring text, expected;
    const wchar_t* endings[] = {L"\r\n", L"\r", L"\r"};
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i] + endings[i % 3];
        expected += lines[i] + L"\r\n";
    }
    // Not typed: a lone LF and other control characters.
    text += L"x\ny\x01z\r";
    expected += L"xyz\r\n";

    Probe probe;
    makeProbe(probe, L"Parvelo test typing", 40);
    if (!focusOn(probe)) {
        check(false, "the typing window takes the focus");
        return;
    }
    // The user holds Shift, Ctrl and Alt: they must not change the text.
    INPUT hold[] = {keyEvent(VK_LSHIFT, false), keyEvent(VK_LCONTROL, false),
                    keyEvent(VK_LMENU, false)};
    SendInput(3, hold, sizeof(INPUT));
    pump(50);
    check(down(VK_LSHIFT) && down(VK_LCONTROL) && down(VK_LMENU),
          "Shift, Ctrl and Alt are held before typing");
    probe.keys = 0;

    WinKeyTyper typer;
    size_t typed = 0;
    const ULONGLONG started = GetTickCount64();
    const WinFailure f = typeAll(
        [&](const std::wstring& t, size_t* n) {
            return typer.type(
                t, [&] { return WinActivator::hasFocus(probe.window); }, n);
        },
        text, &typed);
    const ULONGLONG sentMs = GetTickCount64() - started;
    check(!f && typed == text.size(), "every character went out",
          describe(f) + ", " + std::to_string(typed) + " of " + std::to_string(text.size()));
    waitFor([&] { return textOf(probe.edit) == expected; }, 5000);
    const std::wstring got = textOf(probe.edit);
    check(got == expected, "the edit control holds exactly the text",
          got == expected
              ? std::to_string(lines.size() + 1) + " lines, " + std::to_string(text.size()) +
                    " UTF-16 units sent in " + std::to_string(sentMs) + " ms"
              : "\n  expected " + shown(expected) + "\n  got      " + shown(got));
    check(!probe.modifierSeen && !down(VK_SHIFT) && !down(VK_CONTROL) && !down(VK_MENU),
          "no held modifier reached the edit control, none is down afterwards");
    check(probe.presses > 0 && probe.presses == probe.releases, "every key press has its release",
          std::to_string(probe.presses) + " presses, " + std::to_string(probe.releases) +
              " releases");

    // Keys of the layout where it has them, with Shift where they need it
    // (the X server's US layout, as Wine takes it); the rest as Unicode.
    SetWindowTextW(probe.edit, L"");
    probe.downs.clear();
    const std::wstring mixed = L"aA1+\u00B0\u00E9\r";
    const std::vector<std::pair<WPARAM, bool>> keysOfMixed = {
        {'A', false},       {'A', true},        {'1', false},      {VK_OEM_PLUS, true},
        {VK_PACKET, false}, {VK_PACKET, false}, {VK_RETURN, false}};
    const WinFailure m = typeAll(
        [&](const std::wstring& t, size_t* n) {
            return typer.type(
                t, [&] { return WinActivator::hasFocus(probe.window); }, n);
        },
        mixed, &typed);
    waitFor([&] { return textOf(probe.edit) == mixed + L"\n"; }, 3000);
    std::string cameAs;
    for (const auto& [vk, shift] : probe.downs)
        cameAs += std::to_string(vk) + (shift ? "+Shift " : " ");
    const HKL layout = GetKeyboardLayout(0);
    check(!m && probe.downs == keysOfMixed && textOf(probe.edit) == mixed + L"\n" &&
              !down(VK_SHIFT),
          "characters the layout has go as its keys, with Shift as needed; the rest as Unicode",
          "layout " + std::to_string(reinterpret_cast<uintptr_t>(layout) & 0xFFFF) + ", keys " +
              cameAs + ", edit has \"" + shown(textOf(probe.edit)) + "\"");

    // Windows takes only part of a slice (blocked input): an error, the count
    // of what went out, and no key left down.
    SetWindowTextW(probe.edit, L"");
    typer.setSender([](UINT count, INPUT* events) {
        return SendInput(count < 5 ? count : 5, events, sizeof(INPUT));
    });
    size_t partial = 0;
    const WinFailure p = typer.type(L"abcdef", {}, &partial);
    typer.setSender({});
    waitFor([&] { return textOf(probe.edit) == L"abc"; }, 3000);
    check(p && p->number == WinErr::KeystrokesFailed && partial == 3 &&
              textOf(probe.edit) == L"abc",
          "partial injection is an error that counts what went out",
          describe(p) + "; typed " + std::to_string(partial) + ", edit has \"" +
              shown(textOf(probe.edit)) + "\"");
    // Cut between Shift and its key's release: both are let go.
    SetWindowTextW(probe.edit, L"");
    typer.setSender([](UINT count, INPUT* events) {
        return SendInput(count < 4 ? count : 4, events, sizeof(INPUT));
    });
    const WinFailure cut = typer.type(L"aB", {}, &partial);
    typer.setSender({});
    waitFor([&] { return textOf(probe.edit) == L"aB"; }, 3000);
    pump(100);
    check(cut && cut->number == WinErr::KeystrokesFailed && partial == 2 &&
              textOf(probe.edit) == L"aB" && !down(VK_SHIFT) && !down('B'),
          "a slice cut after a shifted key press leaves neither key down",
          describe(cut) + "; typed " + std::to_string(partial) + ", edit has \"" +
              shown(textOf(probe.edit)) + "\"");
    DestroyWindow(probe.window);
    pump(50);
}

WinFailure activateUntil(WinDesktop& desktop, std::int16_t id,
                         const std::function<bool(const WinFailure&)>& done, DWORD ms,
                         std::vector<int>* seen = nullptr) {
    WinFailure f;
    waitFor(
        [&] {
            f = desktop.activate(id);
            if (seen && f && (seen->empty() || seen->back() != f->number))
                seen->push_back(f->number);
            return done(f);
        },
        ms);
    return f;
}

void activationGroup(const std::wstring& folder) {
    std::printf("-- activating a launched program's main window\n");
    Probe bystander;
    makeProbe(bystander, L"Parvelo test bystander", 460);
    WinDesktop desktop;
    WinError error;
    const std::int16_t id = desktop.launch(folder + L"\\wintarget.exe", &error);
    check(id > 0, "the test program starts", error.text);
    if (id <= 0)
        return;
    HWND main = nullptr, palette = nullptr, tool = nullptr;
    waitFor(
        [&] {
            main = FindWindowW(L"ParveloTestTarget", L"Target main");
            palette = FindWindowW(L"ParveloTestTarget", L"Target palette");
            tool = FindWindowW(L"ParveloTestTarget", L"Target tool");
            return main && palette && tool && IsWindowVisible(tool);
        },
        15000);
    pump(200);
    check(main && focusOn(bystander), "our bystander window has the focus while the target runs");

    // A target that Windows would not let us type into (Wine runs every
    // process with the same rights, so the levels are made up): typing is
    // held with a reason, also once the user brings its window forward.
    DWORD targetPid = 0;
    GetWindowThreadProcessId(main, &targetPid);
    const long ours = WinActivator::integrityOf(GetCurrentProcessId());
    const long theirs = WinActivator::integrityOf(targetPid);
    HWND mainEdit = main ? FindWindowExW(main, nullptr, L"EDIT", nullptr) : nullptr;
    const auto levels = [&](long self, long target) {
        desktop.setIntegrityLookup(
            [=](DWORD pid) { return pid == GetCurrentProcessId() ? self : target; });
    };
    const long medium = SECURITY_MANDATORY_MEDIUM_RID, high = SECURITY_MANDATORY_HIGH_RID;
    for (const auto& [target, says] :
         {std::pair<long, std::string>{high, "wintarget.exe runs as administrator: start "
                                             "Parvelo the same way, or the program without "
                                             "elevation"},
          std::pair<long, std::string>{-1, "see whether wintarget.exe runs as administrator"}}) {
        levels(medium, target);
        const WinFailure held = activateUntil(
            desktop, id, [](const WinFailure& f) { return f && f->number == WinErr::TargetBusy; },
            5000);
        Probe front;
        front.window = main;
        front.edit = mainEdit;
        const bool byHand = focusOn(front);
        const WinFailure still = desktop.activate(id);
        size_t none = 0;
        const WinFailure typing = desktop.type(L"7\r", &none);
        pump(200);
        check(held && held->text.find(says) != std::string::npos && byHand && still &&
                  still->number == WinErr::TargetBusy && typing && none == 0 &&
                  textOf(mainEdit).empty(),
              "a target of " + std::string(target < 0 ? "unknown" : "higher") +
                  " rights holds typing, in front or not",
              describe(held) + "; in front: " + describe(still));
    }
    levels(high, -1);
    check(focusOn(bystander), "the focus moves back to the bystander",
          "levels measured under Wine: ours " + std::to_string(ours) + ", the target's " +
              std::to_string(theirs));

    std::vector<int> seen;
    const WinFailure a = activateUntil(
        desktop, id, [](const WinFailure& f) { return !f; }, 10000, &seen);
    std::string sequence;
    for (int n : seen)
        sequence += std::to_string(n) + " ";
    check(!a && desktop.confirmedWindow() == main,
          "activation brings the main window (not the palette or tool window) forward",
          describe(a) + "; errors on the way: " + sequence + "; title \"" +
              WinText::utf8(desktop.targetTitle()) + "\"");
    // An elevated Parvelo types into a target it cannot look at (above); from
    // here on, the levels are Wine's own.
    desktop.setIntegrityLookup({});
    size_t typed = 0;
    const WinFailure t = typeAll(
        [&](const std::wstring& s, size_t* n) { return desktop.type(s, n); }, L"12.5 g\r", &typed);
    waitFor([&] { return textOf(mainEdit) == L"12.5 g\r\n"; }, 3000);
    check(!t && textOf(mainEdit) == L"12.5 g\r\n", "the reading arrives in the main window",
          describe(t) + ", got \"" + shown(textOf(mainEdit)) + "\"");

    // The focus moves back to our window: nothing may be typed there.
    check(focusOn(bystander), "the focus moves to the bystander");
    const WinFailure moved = desktop.type(L"x\r", &typed);
    pump(200);
    check(moved && moved->number == WinErr::TargetNotFocused && typed == 0,
          "typing after the focus moved stops before the first key", describe(moved));

    // A modal dialog of the target: never typed into, and not fought for.
    PostMessageW(main, WM_APP, 0, 0);
    HWND question = nullptr;
    waitFor([&] { return (question = FindWindowW(L"#32770", L"Target question")) != nullptr; },
            5000);
    // The main window may be disabled a moment before its dialog shows:
    // busy with no title, then with the dialog's.
    const WinFailure busy = activateUntil(
        desktop, id,
        [](const WinFailure& f) {
            return !f || (f->number == WinErr::TargetBusy &&
                          f->text.find("Target question") != std::string::npos);
        },
        5000);
    check(question && busy && busy->number == WinErr::TargetBusy &&
              busy->text.find("Target question") != std::string::npos && !desktop.confirmedWindow(),
          "a modal dialog of the target holds typing back", describe(busy));
    PostMessageW(question, WM_COMMAND, IDOK, 0);
    const WinFailure back = activateUntil(
        desktop, id, [](const WinFailure& f) { return !f; }, 10000);
    const WinFailure t2 = typeAll(
        [&](const std::wstring& s, size_t* n) { return desktop.type(s, n); }, L"3\r", &typed);
    waitFor([&] { return textOf(mainEdit) == L"12.5 g\r\n3\r\n"; }, 3000);
    check(!back && !t2 && textOf(mainEdit) == L"12.5 g\r\n3\r\n",
          "after the dialog is answered, typing goes on in the main window",
          describe(back ? back : t2) + ", got \"" + shown(textOf(mainEdit)) + "\"");

    const std::wstring others = textOf(bystander.edit) +
                                textOf(FindWindowExW(palette, nullptr, L"EDIT", nullptr)) +
                                textOf(FindWindowExW(tool, nullptr, L"EDIT", nullptr));
    check(others.empty() && bystander.keys == 0,
          "the bystander, palette and tool window received nothing",
          std::to_string(bystander.keys) + " keys, text \"" + shown(others) + "\"");

    // The target ends: the run is told so.
    PostMessageW(main, WM_CLOSE, 0, 0);
    const WinFailure gone = activateUntil(
        desktop, id, [](const WinFailure& f) { return f && f->number == WinErr::NoTargetWindow; },
        10000);
    check(gone && gone->number == WinErr::NoTargetWindow, "a closed target is reported as gone",
          describe(gone));
    DestroyWindow(bystander.window);
    pump(50);
}

void endedGroup(const std::wstring& folder) {
    std::printf("-- programs that end or cannot start\n");
    WinDesktop desktop;
    WinError error;
    const std::int16_t id = desktop.launch(folder + L"\\winquit.exe", &error);
    std::vector<int> seen;
    const WinFailure f = activateUntil(
        desktop, id, [](const WinFailure& e) { return e && e->number != WinErr::TargetStarting; },
        WinDesktop::HandOverMs + 10000, &seen);
    check(id > 0 && !seen.empty() && seen.front() == WinErr::TargetStarting && f &&
              f->number == WinErr::NoTargetWindow &&
              f->text.find("ended with exit code 3 and showed no window") != std::string::npos,
          "a program that ends without a window gives a clear error", describe(f));

    const std::int16_t none = desktop.launch(folder + L"\\no such program.exe", &error);
    check(none == 0 && error.number == WinErr::FileNotStartable &&
              error.text.find("does not exist") != std::string::npos,
          "a missing program cannot be started", error.text);
    const std::int16_t folderId = desktop.launch(folder, &error);
    check(folderId == 0 && error.number == WinErr::FileNotStartable, "a folder is not started",
          error.text);
}
// Windows that belong to a task though its process owns none of them.
void elsewhereGroup(const std::wstring& folder) {
    std::printf("-- windows of another process\n");
    // A packaged app: its window is a frame of another process (ours here).
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ApplicationFrameWindow";
    RegisterClassW(&wc);
    HWND frame = CreateWindowExW(0, wc.lpszClassName, L"Packaged app", WS_OVERLAPPEDWINDOW, 80, 80,
                                 320, 200, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(frame, SW_SHOWNOACTIVATE);
    WinTask packaged;
    packaged.path = folder + L"\\winpackaged.exe";
    for (HWND w : WinWindows::topLevel())
        packaged.windowsAtLaunch.insert(w);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + packaged.path + L"\"";
    if (CreateProcessW(packaged.path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup, &info)) {
        packaged.pid = info.dwProcessId;
        CloseHandle(info.hThread);
    }
    HWND found = nullptr;
    waitFor(
        [&] {
            found = WinWindows::findFor(packaged, WinProcesses::snapshot());
            return found != nullptr;
        },
        10000);
    check(packaged.pid && found == frame,
          "a packaged app's window is found in the frame another process owns",
          found ? "found \"" + WinText::utf8(WinWindows::titleOf(found)) + "\"" : "none found");
    DestroyWindow(frame);
    if (info.hProcess) {
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hProcess);
    }

    // A start that hands over to a window already open and ends: that window
    // is the task's once the started process has ended, not before.
    WinDesktop desktop;
    WinError error;
    desktop.launch(folder + L"\\wintarget.exe", &error);
    HWND open = nullptr;
    waitFor(
        [&] {
            open = FindWindowW(L"ParveloTestTarget", L"Target main");
            return open && WinWindows::isUsable(open);
        },
        15000);
    WinTask again;
    again.path = folder + L"\\app\\wintarget_app.exe";
    again.pid = 0xFFFFFFF0; // no such process any more
    for (HWND w : WinWindows::topLevel())
        again.windowsAtLaunch.insert(w);
    const WinProcesses processes = WinProcesses::snapshot();
    const HWND whileRunning = WinWindows::findFor(again, processes);
    again.exitedAtMs = 1;
    const HWND afterExit = WinWindows::findFor(again, processes);
    check(open && !whileRunning && afterExit == open,
          "a start that hands over to its program's open window follows it once it has ended",
          std::string(whileRunning ? "taken while it ran" : "not taken while it ran") +
              (afterExit == open ? ", taken after" : ", not taken after"));
    PostMessageW(open, WM_CLOSE, 0, 0);
    pump(300);
}

// Office where Windows finds it, and its window before a workbook is open.
void officeGroup(const std::wstring& folder) {
    std::printf("-- a program found by its registration, a window with no workbook\n");
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    const std::wstring target = folder + L"\\wintarget.exe";
    const std::wstring quoted = L"\"" + target + L"\"";
    const std::wstring gone = folder + L"\\no such program.exe";
    RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"PARVELOTEST.EXE").c_str(), nullptr, REG_SZ,
                    quoted.c_str(), DWORD((quoted.size() + 1) * sizeof(wchar_t)));
    RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"PARVELOGONE.EXE").c_str(), nullptr, REG_SZ,
                    gone.c_str(), DWORD((gone.size() + 1) * sizeof(wchar_t)));
    const std::wstring found = WinAppPaths::find(L"parvelotest.exe");
    check(found == target && WinAppPaths::find(L"parvelogone.exe").empty() &&
              WinAppPaths::find(L"parvelonone.exe").empty(),
          "a program is found by its App Paths registration, one whose file is gone is not",
          "found \"" + WinText::utf8(found) + "\"");
    RegDeleteTreeW(HKEY_CURRENT_USER, (key + L"PARVELOTEST.EXE").c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (key + L"PARVELOGONE.EXE").c_str());

    const auto make = [](const wchar_t* className, HWND parent) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        RegisterClassW(&wc);
        return CreateWindowExW(0, className, L"", parent ? WS_CHILD : WS_OVERLAPPED, 0, 0, 100, 100,
                               parent, nullptr, wc.hInstance, nullptr);
    };
    HWND excel = make(L"XLMAIN", nullptr);
    HWND desk = make(L"XLDESK", excel);
    const bool startScreen = WinWindows::showsNoWorkbook(excel);
    make(L"EXCEL7", desk);
    check(startScreen && !WinWindows::showsNoWorkbook(excel) &&
              !WinWindows::showsNoWorkbook(make(L"ParveloTestProbe", nullptr)),
          "a spreadsheet window without a workbook cannot take keys; with one it can");
}

// The settings file renamed over the old one while another program (a
// virus scanner) holds the old one open for a moment, or for good.
void renameGroup() {
    std::printf("-- a settings file held open by another program\n");
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring from = std::wstring(temp) + L"parvelo-test-new.ini";
    const std::wstring to = std::wstring(temp) + L"parvelo-test.ini";
    const auto write = [](const std::wstring& path, const char* text) {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(f, text, DWORD(strlen(text)), &n, nullptr);
        CloseHandle(f);
    };
    const auto read = [](const std::wstring& path) {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        char buffer[64] = {};
        DWORD n = 0;
        ReadFile(f, buffer, sizeof buffer - 1, &n, nullptr);
        CloseHandle(f);
        return std::string(buffer, n);
    };
    // As a scanner opens it: reading, sharing reads, not deletion.
    const auto hold = [&](DWORD ms) {
        HANDLE held = CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        return std::thread([held, ms] {
            Sleep(ms);
            CloseHandle(held);
        });
    };
    for (const DWORD heldMs : {300u, 3000u}) {
        write(to, "old");
        write(from, "new");
        std::thread holder = hold(heldMs);
        const ULONGLONG started = GetTickCount64();
        const DWORD code = FileRename::replace(from, to);
        const ULONGLONG took = GetTickCount64() - started;
        holder.join();
        const std::string now = read(to);
        const std::string detail = "error " + std::to_string(code) + " after " +
                                   std::to_string(took) + " ms; the file has \"" + now + "\"";
        if (heldMs < FileRename::RetryMs)
            check(code == ERROR_SUCCESS && now == "new" && took >= heldMs - 50,
                  "a rename refused for a moment goes through once the file is let go", detail);
        else
            check(code != ERROR_SUCCESS && now == "old" && took >= FileRename::RetryMs &&
                      took < FileRename::RetryMs + 1000,
                  "a rename refused for good fails after about a second", detail);
        DeleteFileW(from.c_str());
        DeleteFileW(to.c_str());
    }
}

// The reopen after a port error, with opens that fail as drivers make them
// fail, and the pauses really waited.
void portGroup() {
    std::printf("-- a port error with the adapter still attached\n");
    struct Run {
        std::vector<DWORD> errors; // of the opens, in turn; past the end: success
        bool stopped = false;
        int opens = 0;
        DWORD code = 0;
        ULONGLONG ms = 0;
        HANDLE result = INVALID_HANDLE_VALUE;
    };
    const HANDLE opened = reinterpret_cast<HANDLE>(0x1234);
    const auto run = [&](Run r) {
        const ULONGLONG started = GetTickCount64();
        r.result = PortRecovery::reopen(
            [&](DWORD* code) {
                if (size_t(r.opens++) >= r.errors.size())
                    return opened;
                *code = r.errors[size_t(r.opens - 1)];
                return INVALID_HANDLE_VALUE;
            },
            [&](DWORD ms) {
                Sleep(ms);
                return !r.stopped;
            },
            &r.code);
        r.ms = GetTickCount64() - started;
        return r;
    };
    const Run passing = run({{ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ERROR_OPERATION_ABORTED}});
    check(passing.result == opened && passing.opens == 4,
          "access denied, general failure and aborted are ridden out by opening again",
          std::to_string(passing.opens) + " opens in " + std::to_string(passing.ms) + " ms");
    const Run going = run({{ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}});
    check(going.result == INVALID_HANDLE_VALUE && going.opens == 2 &&
              going.code == ERROR_FILE_NOT_FOUND &&
              PortRecovery::kindOf(going.code) == PortRecovery::Kind::Gone,
          "a port that leaves the system ends the tries at once: the wait for it follows",
          std::to_string(going.opens) + " opens");
    const Run stuck = run({std::vector<DWORD>(20, ERROR_GEN_FAILURE)});
    check(stuck.result == INVALID_HANDLE_VALUE && stuck.code == ERROR_GEN_FAILURE &&
              PortRecovery::kindOf(stuck.code) != PortRecovery::Kind::Gone && stuck.ms >= 1000 &&
              stuck.ms < 3000,
          "a port that stays refused is given up after about a second, not waited for",
          std::to_string(stuck.opens) + " opens in " + std::to_string(stuck.ms) + " ms");
    Run closing;
    closing.stopped = true;
    const Run stopped = run(closing);
    check(stopped.result == INVALID_HANDLE_VALUE && stopped.opens == 0,
          "closing the port ends the tries", std::to_string(stopped.opens) + " opens");
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wincore_test.exe FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    typingGroup();
    activationGroup(folder);
    endedGroup(folder);
    elsewhereGroup(folder);
    officeGroup(folder);
    renameGroup();
    portGroup();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
