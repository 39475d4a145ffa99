#include "platform/UnavailablePlatform.h"

std::int16_t UnavailablePlatform::launch(const QString& path, AppError* error) {
    Q_UNUSED(path);
    if (error)
        *error = makeError(Err::NoDisplay, reason_);
    return 0;
}

Failure UnavailablePlatform::activate(std::int16_t taskId) {
    Q_UNUSED(taskId);
    return makeError(Err::NoDisplay, reason_);
}

Failure UnavailablePlatform::typeText(const QString& text, int* typed) {
    Q_UNUSED(text);
    if (typed)
        *typed = 0;
    return makeError(Err::NoDisplay, reason_);
}
