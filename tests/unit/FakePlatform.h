#pragma once

#include "platform/DesktopPlatform.h"

#include <QStringList>

// Records what would have been typed; activation and typing can be made to
// fail on demand.
class FakePlatform : public DesktopPlatform {
public:
    std::int16_t launch(const QString& path, AppError* error) override
    {
        launched << path;
        if (launchFails) {
            *error = makeError(Err::FileNotStartable, "cannot start");
            return 0;
        }
        return 7;
    }
    Failure activate(std::int16_t taskId) override
    {
        activations << taskId;
        if (activateError)
            return activateError;
        return std::nullopt;
    }
    Failure typeText(const QString& text) override
    {
        if (typeError)
            return typeError;
        typed << text;
        return std::nullopt;
    }

    QStringList launched;
    QList<std::int16_t> activations;
    QStringList typed;
    bool launchFails = false;
    std::optional<AppError> activateError;
    std::optional<AppError> typeError;
};
