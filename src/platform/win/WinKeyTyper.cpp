#include "platform/win/WinKeyTyper.h"

#include "platform/win/WinText.h"

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

std::vector<INPUT> WinKeyTyper::plan(const std::wstring& text, size_t begin, int maxKeys,
                                     size_t* end) {
    std::vector<INPUT> out;
    size_t i = begin;
    int keys = 0;
    while (i < text.size()) {
        const wchar_t c = text[i];
        const bool pair = isHigh(c) && i + 1 < text.size() && isLow(text[i + 1]);
        const int need = pair ? 2 : 1;
        if (keys + need > maxKeys)
            break;
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
        } else {
            unicodeStroke(out, c);
        }
        keys += need;
        ++i;
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
    size_t next = 0;
    while (true) {
        // Skip what is not typed, so that a text of nothing left counts as done.
        size_t end = next;
        std::vector<INPUT> keys = plan(text, next, SliceKeys, &end);
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
            // A press taken without its release would leave the key down.
            if (taken > keysFrom && (taken - keysFrom) % 2 == 1) {
                INPUT release = events[taken];
                if (sender_)
                    sender_(1, &release);
                else
                    SendInput(1, &release, sizeof(INPUT));
            }
            // A character is typed at its press: count those whose press went out.
            const size_t strokesTaken = taken > keysFrom ? (taken - keysFrom + 1) / 2 : 0;
            size_t done = next;
            size_t strokes = 0;
            while (done < end) {
                size_t after = done;
                size_t n = plan(text, done, 1, &after).size() / 2;
                if (n == 0 && after == done) // a pair needs two strokes
                    n = plan(text, done, 2, &after).size() / 2;
                if (strokes + n > strokesTaken || after == done)
                    break;
                strokes += n;
                done = after;
            }
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
