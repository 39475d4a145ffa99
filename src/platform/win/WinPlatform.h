#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/TypingTurn.h"
#include "platform/win/WinDesktop.h"

// DesktopPlatform on Windows: the Win32 core, with Qt strings and AppError.
// Built only when PARVELO_PLATFORM is win.
class WinPlatform : public DesktopPlatform {
public:
    std::int16_t launch(const QString& path, AppError* error) override;
    QString registeredProgram(const QString& path) override;
    Failure activate(std::int16_t taskId) override;
    Failure typeText(const QString& text, int* typed = nullptr) override;
    QString targetTitle() override;
    QString targetClass() override;
    qint64 targetPid() override;
    void endTurn() override { turn_.release(); }

private:
    WinDesktop desktop_;
    TypingTurn turn_;
};
