#pragma once

#include "platform/DesktopPlatform.h"

// Stands in when there is no X display to type into: every call fails with
// the same plain explanation.
class UnavailablePlatform : public DesktopPlatform {
public:
    explicit UnavailablePlatform(QString reason) : reason_(std::move(reason)) {}

    std::int16_t launch(const QString& path, AppError* error) override;
    Failure activate(std::int16_t taskId) override;
    Failure typeText(const QString& text, int* typed = nullptr) override;
    QString sessionWarning() const override { return reason_; }

private:
    QString reason_;
};
