#pragma once

#include "platform/win/WinError.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Types text with SendInput into whatever holds the keyboard focus.
// A character the keyboard layout of the focus has goes as its key, with
// Shift or AltGr where it needs them: remote-desktop and VNC viewers, and
// programs that act on key-down messages, take nothing else. The rest go as
// KEYEVENTF_UNICODE events (VK_PACKET), so the layout cannot change them;
// characters beyond the BMP as their two UTF-16 units. TAB and Return go as
// the real keys, which many programs want. Every press has its
// release, so a repeated character is a new key stroke. Keys the user holds
// (Shift, Ctrl, Alt, Win) are released at the start of every slice, in the
// same SendInput call as the keys: Windows inserts one call's events as a
// whole, so neither the keyboard's auto-repeat nor another program's input
// can come between.
class WinKeyTyper {
public:
    // Most keys sent between two focus checks, and the time after which a
    // call hands back with TypingYielded.
    static constexpr int SliceKeys = 64;
    static constexpr int BudgetMs = 40;

    // A character's key in layout: the virtual key and the modifiers it
    // needs (bits as VkKeyScanExW gives them: 1 Shift, 6 AltGr). None when
    // the layout lacks it, reaches it only with a dead key, with Ctrl or Alt
    // alone, or gives another character with the Caps Lock of now.
    struct LayoutKey {
        WORD vk = 0;
        BYTE modifiers = 0;
    };
    static std::optional<LayoutKey> layoutKey(wchar_t c, HKL layout);

    // The events for text from position begin on, at most maxKeys
    // characters (a pair beyond the BMP counts two): TAB is VK_TAB, CR LF
    // or a lone CR one VK_RETURN; other control characters, a lone LF and
    // broken surrogates are not typed. *end: where the next slice starts
    // (never splits a CR LF or a pair). presses (if given): per character,
    // the index of the event that types it and the text position after it.
    struct Press {
        size_t event;
        size_t textEnd;
    };
    static std::vector<INPUT> plan(const std::wstring& text, size_t begin, int maxKeys, size_t* end,
                                   HKL layout, std::vector<Press>* presses = nullptr);
    // Key-up events for the modifiers that are down now, after a press and
    // release of an unassigned key when Alt or Win is among them (a lone Alt
    // or Win release would open the target's menu or the Start menu).
    static std::vector<INPUT> releaseHeldModifiers();

    // Types text in the layout of the foreground window's thread (the
    // focus holder's). focusHeld is asked before each slice; when it says no,
    // typing stops with TargetNotFocused. After about BudgetMs, between two
    // slices, returns TypingYielded: call again with the rest. A slice that
    // Windows takes only in part is KeystrokesFailed (a key pressed without
    // its release is released). *typed: UTF-16 units of text whose key
    // presses went out.
    WinFailure type(const std::wstring& text, const std::function<bool()>& focusHeld,
                    size_t* typed);

    // Replaces SendInput (for tests of partial injection).
    using Sender = std::function<UINT(UINT count, INPUT* events)>;
    void setSender(Sender sender) { sender_ = std::move(sender); }

private:
    Sender sender_;
};
