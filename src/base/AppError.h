#pragma once

// The base folder: what every layer shares and that needs nothing of ours, the error
// type with its numbers, the parsing of numbers from text and the file calls that must
// not lose data (SystemFile.h). It includes only Qt Core, the standard library and the
// system's own headers.

#include <QString>
#include <optional>

// One error type for the whole program: a number and a text. Numbers are
// chosen once, here, so that tests and the reading loop can rely on them.
struct AppError {
    int number = 0;
    QString message;
};

// An operation that yields nothing but may fail.
using Failure = std::optional<AppError>;

namespace Err {
// Conversions of stored text to numbers.
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
// Path or file access: the reading loop ends without a log line for it.
constexpr int PathFileAccess = 75;
// Serial component.
constexpr int InvalidPropertyValue = 380;
constexpr int PortNumberInvalid = 8002;
constexpr int PortAlreadyOpen = 8005;
constexpr int PortNotAvailable = 8012;
constexpr int PortSettingUnsupported = 8015;
constexpr int PortHungUp = 8020;
constexpr int PortReadFailed = 8021;
// Writing to the instrument: the port is closed, it takes nothing (flow
// control or cable), or the write failed.
constexpr int PortNotOpen = 8018;
constexpr int PortOutputBlocked = 8022;
constexpr int PortWriteFailed = 8023;
// Settings store.
constexpr int SettingsWriteFailed = 9001;
// Desktop platform: launch, activation, keystrokes.
constexpr int FileNotStartable = 53;
constexpr int NoTargetWindow = 5;
constexpr int TargetNotFocused = 9101;
constexpr int KeystrokesFailed = 9102;
constexpr int NoDisplay = 9103;
// The target is alive but cannot take keys now: still starting, or a
// dialog of its own is open.
constexpr int TargetStarting = 9104;
constexpr int TargetBusy = 9105;
// Typing paused until the target has read the keys already sent (on X11
// also before a key that must first be remapped). Type the rest a little
// later.
constexpr int TypingPaused = 9106;
// Typing handed back to the event loop in the middle of a long text; type
// the rest right after the waiting events.
constexpr int TypingYielded = 9107;
// Another program holds the keyboard (a locked screen, an open menu): keys
// would go to it, whatever has the focus.
constexpr int KeyboardHeld = 9108;
// Another Parvelo on this desktop is typing into its own target: wait for
// the turn.
constexpr int OtherTyping = 9109;
// The Data settings: a stored value that cannot be used.
constexpr int DataSettingInvalid = 9301;
// Journal of received readings.
constexpr int JournalWriteFailed = 9201;
} // namespace Err

#include <QMetaType>
Q_DECLARE_METATYPE(AppError)

inline AppError makeError(int number, const QString& message) {
    return AppError{number, message};
}
