#pragma once

// The platform folder: the desktop seam. This folder holds the interface, the logic
// that needs no window system and the null backend; the build adds one backend folder
// (x11/ on Linux). It includes base/ only, and knows no window of ours.

#include "base/AppError.h"

#include <QString>
#include <cstdint>
#include <memory>

// What the program needs from the desktop: start a program, bring it to the
// front, type into it. One implementation per window system.
class DesktopPlatform {
public:
    virtual ~DesktopPlatform() = default;

    // Starts the program at path without arguments and without waiting.
    // Returns a small task number (1 to 32767) that activate() accepts.
    virtual std::int16_t launch(const QString& path, AppError* error) = 0;

    // For a program path that does not exist: where the system finds a
    // program of that file name when it is started by name (on Windows, its
    // App Paths registration). Empty when it knows none.
    virtual QString registeredProgram(const QString& path) {
        (void)path;
        return {};
    }

    // Checks that the main window of the task (or of a program it handed
    // over to) holds the input focus, and asks for it when it does not.
    // Never waits. nullopt: it has the focus and typeText() may type.
    // Err::NoTargetWindow (or Err::NoDisplay): the program and its windows
    // are gone, or it never showed a window in time; nothing will be typed
    // into it again.
    // Any other error says why it cannot take keys now (still starting, a
    // dialog of its own is open, the focus was asked for): ask again later.
    virtual Failure activate(std::int16_t taskId) = 0;

    // Looks, without touching the focus, whether a task has ended without
    // ever showing a window (and without handing over to a program that
    // shows one): then Err::NoTargetWindow, as activate() would give.
    // Cheap enough to ask every second while a run waits for its first line.
    virtual Failure checkLaunched(std::int16_t taskId) {
        (void)taskId;
        return std::nullopt;
    }

    // Types text into the window that activate() last confirmed, literally:
    // every character is itself, TAB is the Tab key, a CR LF pair or a lone
    // CR is one Return; other control characters (and lone LF) are not typed.
    // The focus is checked again at least every 64 keys, with no gap in
    // which it could move unseen; when it has left the window, typing stops
    // at once with Err::TargetNotFocused. It never blocks the caller for
    // long: after a moment of typing it returns Err::TypingYielded, and
    // while the target has still to read keys sent before (or a key must
    // wait for the keyboard map) Err::TypingPaused;
    // either way, call again with the rest. *typed tells how many characters
    // (QChars) of text went out. Returns once the window system has taken
    // every event.
    virtual Failure typeText(const QString& text, int* typed = nullptr) = 0;

    // A Parvelo per instrument on one desktop: an activate() that is refused
    // with Err::OtherTyping waits for its turn; any other leaves this process
    // the turn (keys on their way keep it) until endTurn().
    virtual void endTurn() {}

    // The title of the window activate() last confirmed.
    virtual QString targetTitle() { return {}; }
    // Its class (WM_CLASS instance and class on X11, the window class on
    // Windows), to tell which program it is; empty when unknown.
    virtual QString targetClass() { return {}; }
    // The process id of its program, 0 when unknown: what its text is read
    // back through.
    virtual qint64 targetPid() { return 0; }

    // Gets ready to type before the first line arrives (e.g. maps the keys
    // that most lines need), so that the first lines are not held up.
    virtual void prepareTyping() {}
    // The run has ended: give back whatever typing borrowed from the desktop
    // (spare keys), without waiting.
    virtual void endTyping() {}

    // A short warning for the user when typing cannot work in this session
    // (e.g. a Wayland desktop); empty when all is well.
    virtual QString sessionWarning() const { return {}; }
};

// The implementation for the session the program runs in.
std::unique_ptr<DesktopPlatform> createDesktopPlatform();
