#pragma once

#include "platform/DesktopPlatform.h"

#include <QStringList>
#include <utility>

// Records what would have been typed; activation and typing can be made to
// fail on demand.
class FakePlatform : public DesktopPlatform {
public:
    std::int16_t launch(const QString& path, AppError* error) override {
        launched << path;
        if (launchFails) {
            *error = makeError(Err::FileNotStartable, "cannot start");
            return 0;
        }
        return 7;
    }
    Failure activate(std::int16_t taskId) override {
        activations << taskId;
        if (activateError)
            return activateError;
        return std::nullopt;
    }
    Failure typeText(const QString& text, int* count) override {
        *count = 0;
        if (typeError)
            return typeError;
        if (!refuse.isEmpty() && text.contains(refuse)) // checked before any key goes
            return makeError(Err::KeystrokesFailed, "The keyboard has no key for it.");
        if (cutAfter >= 0) { // the focus moves away after that many characters
            *count = std::exchange(cutAfter, -1);
            typed << text.left(*count);
            return makeError(Err::TargetNotFocused, "the keyboard focus left the target window");
        }
        typed << text;
        *count = int(text.size());
        return std::nullopt;
    }
    QString targetTitle() override { return "target"; }
    QString targetClass() override { return windowClass; }

    // Everything typed, however the calls split it.
    QString text() const { return typed.join(QString()); }

    QStringList launched;
    QList<std::int16_t> activations;
    QStringList typed;
    bool launchFails = false;
    std::optional<AppError> activateError;
    std::optional<AppError> typeError;
    int cutAfter = -1;
    QString windowClass;
    QString refuse;
};
