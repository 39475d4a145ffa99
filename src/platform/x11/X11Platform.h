#pragma once

// The x11 folder: the X11 backend of the desktop seam (Xlib, XTest, XKB) with the
// Linux process lookups it needs (/proc). It includes base/ and platform/.

#include "platform/DesktopPlatform.h"
#include "platform/TypingTurn.h"
#include "platform/x11/KeyTyper.h"
#include "platform/x11/TaskTable.h"
#include "platform/x11/WindowActivator.h"
#include "platform/x11/WindowFinder.h"
#include "platform/x11/X11Connection.h"

#include <memory>

// DesktopPlatform on an X11 display: QProcess to start programs, the window
// tree to find their windows, XTest to type.
class X11Platform : public DesktopPlatform {
public:
    // Takes an open connection; see the factory for the other cases.
    // waylandSession: the display is XWayland, and targets are started so
    // that they run as X11 clients.
    explicit X11Platform(std::unique_ptr<X11Connection> connection, bool waylandSession = false);

    std::int16_t launch(const QString& path, AppError* error) override;
    Failure activate(std::int16_t taskId) override;
    Failure checkLaunched(std::int16_t taskId) override;
    Failure typeText(const QString& text, int* typed = nullptr) override;
    QString targetTitle() override;
    QString targetClass() override;
    qint64 targetPid() override;
    void prepareTyping() override { typer_.prepare(); }
    void endTyping() override { typer_.giveBackKeys(); }
    void endTurn() override { turn_.release(); }
    QString sessionWarning() const override { return {}; }

    KeyTyper& typer() { return typer_; }
    // The window activate() last confirmed (0: none).
    unsigned long confirmedWindow() const { return confirmed_; }

private:
    // How often typing looks whether another program grabbed the keyboard.
    static constexpr std::int64_t GrabCheckMs = 100;
    void learnFamily(Task& task, const ProcessTree& tree);
    // Reaps the started process once it has ended, and notes its status.
    void noteExit(Task& task);
    // Err::NoTargetWindow when the task, which has no window now, ended a
    // while ago without ever showing one (nor did a program it handed over to).
    Failure endedWithoutWindow(Task& task);
    // Why the task's main window does not have the focus; asks for it
    // unless a dialog of the task stands in the way.
    AppError notFocused(Task& task, const ProcessTree& tree);
    // Whether a window of the task is ready for keys (see WindowSettle);
    // look: how it looks now, when it is not.
    bool settled(Task& task, unsigned long window, const ProcessTree& tree,
                 WindowSettle::Look* look);
    // The task's window takes the keys that follow.
    void confirm(const Task& task);

    std::unique_ptr<X11Connection> connection_;
    WindowFinder finder_;
    WindowActivator activator_;
    KeyTyper typer_;
    TypingTurn turn_;
    TaskTable tasks_;
    unsigned long confirmed_ = 0;
    unsigned confirmedToken_ = 0; // its X11Connection::watch() token
    unsigned long titleWindow_ = 0;
    unsigned titleToken_ = 0;
    std::int64_t titleReadAtMs_ = 0;
    QString title_;
    unsigned long classWindow_ = 0;
    unsigned classToken_ = 0;
    QString class_;
    qint64 pid_ = 0; // of classWindow_
    bool waylandSession_ = false;
};
