#pragma once

#include "platform/win/WinError.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Types text with SendInput into whatever holds the keyboard focus.
// Characters go as KEYEVENTF_UNICODE events, so the keyboard layout cannot
// change them; characters beyond the BMP as their two UTF-16 units. TAB and
// Return go as the real keys, which many programs want. Every press has its
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

    // The events for text from position begin on, at most maxKeys key
    // strokes: TAB is VK_TAB, CR LF or a lone CR one VK_RETURN; other
    // control characters, a lone LF and broken surrogates are not typed.
    // *end: where the next slice starts (never splits a CR LF or a pair).
    static std::vector<INPUT> plan(const std::wstring& text, size_t begin, int maxKeys,
                                   size_t* end);
    // Key-up events for the modifiers that are down now, after a press and
    // release of an unassigned key when Alt or Win is among them (a lone Alt
    // or Win release would open the target's menu or the Start menu).
    static std::vector<INPUT> releaseHeldModifiers();

    // Types text. focusHeld is asked before each slice; when it says no,
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
