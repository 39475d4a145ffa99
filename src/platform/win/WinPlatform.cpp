#include "platform/win/WinPlatform.h"

#include "platform/win/WinAppPaths.h"

#include <QDir>
#include <QFileInfo>

// The core repeats AppError's numbers; they must not drift apart.
static_assert(WinErr::FileNotStartable == Err::FileNotStartable);
static_assert(WinErr::NoTargetWindow == Err::NoTargetWindow);
static_assert(WinErr::TargetNotFocused == Err::TargetNotFocused);
static_assert(WinErr::KeystrokesFailed == Err::KeystrokesFailed);
static_assert(WinErr::TargetStarting == Err::TargetStarting);
static_assert(WinErr::TargetBusy == Err::TargetBusy);
static_assert(WinErr::TypingPaused == Err::TypingPaused);
static_assert(WinErr::TypingYielded == Err::TypingYielded);
static_assert(WinErr::KeyboardHeld == Err::KeyboardHeld);
static_assert(sizeof(wchar_t) == sizeof(QChar), "UTF-16 on both sides: counts are QChars");

namespace {
AppError toAppError(const WinError& e) {
    return makeError(e.number, QString::fromStdString(e.text));
}

Failure toFailure(const WinFailure& f) {
    return f ? Failure(toAppError(*f)) : std::nullopt;
}
} // namespace

std::int16_t WinPlatform::launch(const QString& path, AppError* error) {
    WinError e;
    const std::int16_t id = desktop_.launch(QDir::toNativeSeparators(path).toStdWString(), &e);
    if (!id && error)
        *error = toAppError(e);
    return id;
}

QString WinPlatform::registeredProgram(const QString& path) {
    return QString::fromStdWString(WinAppPaths::find(QFileInfo(path).fileName().toStdWString()));
}

Failure WinPlatform::activate(std::int16_t taskId) {
    if (!turn_.take())
        return makeError(Err::OtherTyping,
                         QStringLiteral("another Parvelo is typing into its own target"));
    return toFailure(desktop_.activate(taskId));
}

Failure WinPlatform::typeText(const QString& text, int* typed) {
    size_t done = 0;
    const WinFailure f = desktop_.type(text.toStdWString(), &done);
    if (typed)
        *typed = int(done);
    return toFailure(f);
}

QString WinPlatform::targetTitle() {
    return QString::fromStdWString(desktop_.targetTitle());
}

QString WinPlatform::targetClass() {
    return QString::fromStdWString(desktop_.targetClass());
}

qint64 WinPlatform::targetPid() {
    DWORD pid = 0;
    if (HWND window = desktop_.confirmedWindow())
        GetWindowThreadProcessId(window, &pid);
    return qint64(pid);
}

std::unique_ptr<DesktopPlatform> createDesktopPlatform() {
    return std::make_unique<WinPlatform>();
}
