#pragma once

#include "base/AppError.h"

#include <QString>
#include <optional>

// A process that has a device.
struct DeviceHolder {
    qint64 pid = 0;
    QString program; // its command name, as ps shows it
};

// What the user reads when a device cannot be used: the cause first, then
// what to do, short enough for one line of the log. The same texts on every
// system; the device layer judges which one applies.
namespace PortFailures {
// holder: who has it, when that can be told.
AppError inUse(const QString& device, const std::optional<DeviceHolder>& holder);
AppError disconnected(const QString& device);
AppError missing(const QString& device);
// Opening failed for a reason of the driver's (its text).
AppError cannotOpen(const QString& device, const QString& driverText);
// What ("Settings refused by") device refused, in the driver's words.
AppError refused(const QString& what, const QString& device, const QString& driverText);
} // namespace PortFailures
