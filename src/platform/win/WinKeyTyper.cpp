#include "platform/win/WinKeyTyper.h"

#include "platform/win/WinText.h"

#include <algorithm>

namespace {
// Unassigned; what other automation tools also press to mask a lone Alt or Win.
constexpr WORD MaskKey = 0xE8;

INPUT key(WORD vk, WORD scan, DWORD flags) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = flags;
    return in;
}

void stroke(std::vector<INPUT>& out, WORD vk) {
    const WORD scan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    out.push_back(key(vk, scan, 0));
    out.push_back(key(vk, scan, KEYEVENTF_KEYUP));
}

// Delete and the arrow keys of the navigation block, not the keypad's.
void navigationStroke(std::vector<INPUT>& out, WORD vk) {
    const WORD scan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    out.push_back(key(vk, scan, KEYEVENTF_EXTENDEDKEY));
    out.push_back(key(vk, scan, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP));
}

void unicodeStroke(std::vector<INPUT>& out, wchar_t unit) {
    out.push_back(key(0, WORD(unit), KEYEVENTF_UNICODE));
    out.push_back(key(0, WORD(unit), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
}

bool isHigh(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLow(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool isDown(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}
} // namespace

std::optional<WinKeyTyper::LayoutKey> WinKeyTyper::layoutKey(wchar_t c, HKL layout) {
    const SHORT found = VkKeyScanExW(c, layout);
    if (found == -1)
        return std::nullopt;
    const LayoutKey k{WORD(LOBYTE(found)), BYTE(HIBYTE(found))};
    if (k.modifiers != 0 && k.modifiers != 1 && k.modifiers != 6 && k.modifiers != 7)
        return std::nullopt;
    // The key, pressed as planned with the Caps Lock of now, must give c
    // and nothing else (a dead key gives -1). Flag 4: the keyboard state of
    // the system stays as it is.
    BYTE state[256] = {};
    if (k.modifiers & 1)
        state[VK_SHIFT] = 0x80;
    if (k.modifiers & 2)
        state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
    if (k.modifiers & 4)
        state[VK_MENU] = state[VK_RMENU] = 0x80;
    state[VK_CAPITAL] = BYTE(GetKeyState(VK_CAPITAL) & 1);
    wchar_t out[4] = {};
    const UINT scan = MapVirtualKeyExW(k.vk, MAPVK_VK_TO_VSC, layout);
    if (ToUnicodeEx(k.vk, scan, state, out, 4, 4, layout) != 1 || out[0] != c)
        return std::nullopt;
    return k;
}

namespace {
// A layout key with its modifiers: Shift as the left one, AltGr as left
// Ctrl with right Alt, which is how the keyboard itself sends it.
void layoutStroke(std::vector<INPUT>& out, const WinKeyTyper::LayoutKey& k, HKL layout) {
    const auto scanOf = [layout](WORD vk) {
        return WORD(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, layout));
    };
    std::vector<INPUT> downs;
    if (k.modifiers & 2)
        downs.push_back(key(VK_LCONTROL, scanOf(VK_LCONTROL), 0));
    if (k.modifiers & 4)
        downs.push_back(key(VK_RMENU, scanOf(VK_RMENU), KEYEVENTF_EXTENDEDKEY));
    if (k.modifiers & 1)
        downs.push_back(key(VK_LSHIFT, scanOf(VK_LSHIFT), 0));
    out.insert(out.end(), downs.begin(), downs.end());
    out.push_back(key(k.vk, scanOf(k.vk), 0));
    out.push_back(key(k.vk, scanOf(k.vk), KEYEVENTF_KEYUP));
    for (auto d = downs.rbegin(); d != downs.rend(); ++d) {
        INPUT up = *d;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        out.push_back(up);
    }
}

// Index of the key press of the stroke that starts at from.
size_t pressIn(const std::vector<INPUT>& events, size_t from) {
    size_t i = from;
    while (i + 1 < events.size() && (events[i + 1].ki.dwFlags & KEYEVENTF_KEYUP) == 0)
        ++i;
    return i;
}
} // namespace

std::vector<INPUT> WinKeyTyper::plan(const std::wstring& text, size_t begin, int maxKeys,
                                     size_t* end, HKL layout, std::vector<Press>* presses) {
    std::vector<INPUT> out;
    size_t i = begin;
    int keys = 0;
    while (i < text.size()) {
        const wchar_t c = text[i];
        const bool pair = isHigh(c) && i + 1 < text.size() && isLow(text[i + 1]);
        const int need = pair ? 2 : 1;
        if (keys + need > maxKeys)
            break;
        const size_t first = out.size();
        if (c == L'\t') {
            stroke(out, VK_TAB);
        } else if (c == L'\r') {
            stroke(out, VK_RETURN);
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else if (c == L'\x1D' || c == L'\x1E' || c == L'\x1F') { // the marks of KeyActions
            navigationStroke(out, c == L'\x1D' ? VK_DELETE : c == L'\x1E' ? VK_DOWN : VK_RIGHT);
        } else if (pair) {
            unicodeStroke(out, c);
            unicodeStroke(out, text[i + 1]);
            ++i;
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || isHigh(c) || isLow(c)) {
            ++i; // not a character to type
            continue;
        } else if (const auto k = layoutKey(c, layout)) {
            layoutStroke(out, *k, layout);
        } else {
            unicodeStroke(out, c);
        }
        keys += need;
        ++i;
        if (presses) // a pair types at the press of its second unit
            presses->push_back({pressIn(out, pair ? out.size() - 2 : first), i});
    }
    *end = i;
    return out;
}

std::vector<INPUT> WinKeyTyper::releaseHeldModifiers() {
    struct Modifier {
        int vk;
        bool extended;
    };
    static const Modifier modifiers[] = {
        {VK_LSHIFT, false}, {VK_RSHIFT, false}, {VK_LCONTROL, false}, {VK_RCONTROL, true},
        {VK_LMENU, false},  {VK_RMENU, true},   {VK_LWIN, true},      {VK_RWIN, true}};
    std::vector<INPUT> ups;
    bool masked = false;
    for (const Modifier& m : modifiers) {
        if (!isDown(m.vk))
            continue;
        if (!masked &&
            (m.vk == VK_LMENU || m.vk == VK_RMENU || m.vk == VK_LWIN || m.vk == VK_RWIN)) {
            stroke(ups, MaskKey);
            masked = true;
        }
        const WORD scan = WORD(MapVirtualKeyW(UINT(m.vk), MAPVK_VK_TO_VSC));
        ups.push_back(
            key(WORD(m.vk), scan, KEYEVENTF_KEYUP | (m.extended ? KEYEVENTF_EXTENDEDKEY : 0)));
    }
    // Deliberately not pressed again afterwards: the user may have let go
    // meanwhile, and a key pressed by us would then stay down.
    return ups;
}

WinFailure WinKeyTyper::type(const std::wstring& text, const std::function<bool()>& focusHeld,
                             size_t* typed) {
    *typed = 0;
    const ULONGLONG started = GetTickCount64();
    HKL layout = GetKeyboardLayout(GetWindowThreadProcessId(GetForegroundWindow(), nullptr));
    if (!layout)
        layout = GetKeyboardLayout(0);
    size_t next = 0;
    while (true) {
        // Skip what is not typed, so that a text of nothing left counts as done.
        size_t end = next;
        std::vector<Press> presses;
        std::vector<INPUT> keys = plan(text, next, SliceKeys, &end, layout, &presses);
        if (keys.empty()) {
            *typed = end;
            return std::nullopt;
        }
        if (focusHeld && !focusHeld())
            return WinError{WinErr::TargetNotFocused, "the keyboard focus left the target window"};
        std::vector<INPUT> events = releaseHeldModifiers();
        const size_t keysFrom = events.size();
        events.insert(events.end(), keys.begin(), keys.end());
        SetLastError(0);
        const UINT taken = sender_ ? sender_(UINT(events.size()), events.data())
                                   : SendInput(UINT(events.size()), events.data(), sizeof(INPUT));
        if (taken != events.size()) {
            const DWORD code = GetLastError();
            // Keys pressed without their release would stay down: released
            // now, the last pressed first.
            std::vector<INPUT> down;
            for (size_t e = keysFrom; e < taken && e < events.size(); ++e) {
                const auto same = [&](const INPUT& d) {
                    return d.ki.wVk == events[e].ki.wVk && d.ki.wScan == events[e].ki.wScan;
                };
                if (!(events[e].ki.dwFlags & KEYEVENTF_KEYUP))
                    down.push_back(events[e]);
                else if (auto it = std::find_if(down.begin(), down.end(), same); it != down.end())
                    down.erase(it);
            }
            for (auto d = down.rbegin(); d != down.rend(); ++d) {
                INPUT release = *d;
                release.ki.dwFlags |= KEYEVENTF_KEYUP;
                if (sender_)
                    sender_(1, &release);
                else
                    SendInput(1, &release, sizeof(INPUT));
            }
            // A character is typed at its press: count those whose press went out.
            size_t done = next;
            for (const Press& p : presses)
                if (keysFrom + p.event < taken)
                    done = p.textEnd;
            *typed = done;
            return WinError{WinErr::KeystrokesFailed,
                            "Windows took only " + std::to_string(taken) + " of " +
                                std::to_string(events.size()) + " key events" +
                                (code ? " (" + WinText::systemMessage(code) + ")" : "") +
                                ". Another program may be blocking input, or the target runs "
                                "with higher rights than Parvelo (as administrator)."};
        }
        next = end;
        *typed = next;
        if (next >= text.size())
            return std::nullopt;
        if (GetTickCount64() - started >= ULONGLONG(BudgetMs))
            return WinError{WinErr::TypingYielded, "typing yields to waiting events"};
    }
}
