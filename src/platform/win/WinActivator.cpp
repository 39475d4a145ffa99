#include "platform/win/WinActivator.h"

#include "platform/win/WinKeyTyper.h"

namespace {
constexpr WORD MaskKey = 0xE8; // unassigned

INPUT key(WORD vk, DWORD flags) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = flags;
    return in;
}

bool foregroundIs(HWND window) {
    return GetForegroundWindow() == window;
}

constexpr DWORD MenuOrMoveFlags =
    GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE;

bool threadInfo(HWND window, GUITHREADINFO* info) {
    info->cbSize = sizeof(*info);
    return window && IsWindow(window) &&
           GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), info);
}
} // namespace

HWND WinActivator::focusOf(HWND window) {
    GUITHREADINFO info{};
    return threadInfo(window, &info) ? info.hwndFocus : nullptr;
}

bool WinActivator::menuOrMove(HWND window) {
    GUITHREADINFO info{};
    return threadInfo(window, &info) && (info.flags & MenuOrMoveFlags);
}

bool WinActivator::hasFocus(HWND window) {
    if (!window || !IsWindow(window) || !foregroundIs(window))
        return false;
    GUITHREADINFO info{};
    if (!threadInfo(window, &info) || (info.flags & MenuOrMoveFlags))
        return false;
    // No focus at all: keys would go to the active window as system keys.
    return info.hwndFocus && (info.hwndFocus == window || IsChild(window, info.hwndFocus));
}

std::string WinActivator::keyboardHolder() {
    HDESK desk = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!desk)
        return "the screen is locked, or a security prompt is open";
    wchar_t name[64] = {};
    DWORD needed = 0;
    const bool other = GetUserObjectInformationW(desk, UOI_NAME, name, sizeof name, &needed) &&
                       _wcsicmp(name, L"Default") != 0;
    CloseDesktop(desk);
    return other ? "the screen is locked, or a security prompt is open" : std::string();
}

bool WinActivator::buttonHeld() {
    for (int button : {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1, VK_XBUTTON2})
        if (GetAsyncKeyState(button) & 0x8000)
            return true;
    return false;
}

bool WinActivator::request(HWND window) {
    if (!IsWindow(window))
        return false;
    if (IsIconic(window))
        ShowWindowAsync(window, SW_RESTORE);
    if (SetForegroundWindow(window) && foregroundIs(window))
        return true;

    const HWND foreground = GetForegroundWindow();
    const DWORD foregroundThread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    const DWORD self = GetCurrentThreadId();
    if (foregroundThread && foregroundThread != self &&
        AttachThreadInput(self, foregroundThread, TRUE)) {
        BringWindowToTop(window);
        SetForegroundWindow(window);
        AttachThreadInput(self, foregroundThread, FALSE);
        if (foregroundIs(window))
            return true;
    }

    // Not while the user holds a modifier: our keys would combine with it.
    if (!WinKeyTyper::releaseHeldModifiers().empty())
        return false;
    INPUT mask[] = {key(MaskKey, 0), key(MaskKey, KEYEVENTF_KEYUP)};
    SendInput(2, mask, sizeof(INPUT));
    SetForegroundWindow(window);
    if (foregroundIs(window))
        return true;
    INPUT altMasked[] = {key(VK_MENU, 0), key(MaskKey, 0), key(MaskKey, KEYEVENTF_KEYUP)};
    SendInput(3, altMasked, sizeof(INPUT));
    SetForegroundWindow(window);
    INPUT altUp = key(VK_MENU, KEYEVENTF_KEYUP);
    SendInput(1, &altUp, sizeof(INPUT));
    return foregroundIs(window);
}

long WinActivator::integrityOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return -1;
    long level = -1;
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_MANDATORY_LABEL) unsigned char buffer[128];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
            const auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer);
            const DWORD count = *GetSidSubAuthorityCount(label->Label.Sid);
            if (count > 0)
                level = long(*GetSidSubAuthority(label->Label.Sid, count - 1));
        }
        CloseHandle(token);
    }
    CloseHandle(process);
    return level;
}

WinActivator::Rights WinActivator::rightsFor(long target, long self) {
    if (self < 0)
        return Rights::Typable;
    if (target < 0)
        return self >= long(SECURITY_MANDATORY_HIGH_RID) ? Rights::Typable : Rights::Unknown;
    return target > self ? Rights::Higher : Rights::Typable;
}
