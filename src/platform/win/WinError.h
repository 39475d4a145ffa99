#pragma once

// The win folder: the Windows backend of the desktop seam. Its core (every file
// but WinPlatform.*) is plain C++17 and Win32 without Qt, so that it builds with
// mingw-w64 and runs under Wine; WinPlatform adapts it to DesktopPlatform.

#include <optional>
#include <string>

// An error as the core reports it: a number and a text (UTF-8). The numbers
// are AppError's (base/AppError.h), which the core cannot include; the
// adapter checks at compile time that they still agree.
struct WinError {
    int number = 0;
    std::string text;
};

using WinFailure = std::optional<WinError>;

namespace WinErr {
constexpr int FileNotStartable = 53;
constexpr int NoTargetWindow = 5;
constexpr int TargetNotFocused = 9101;
constexpr int KeystrokesFailed = 9102;
constexpr int TargetStarting = 9104;
constexpr int TargetBusy = 9105;
constexpr int TypingPaused = 9106;
constexpr int TypingYielded = 9107;
constexpr int KeyboardHeld = 9108;
} // namespace WinErr
