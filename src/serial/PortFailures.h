#pragma once

#include "DeviceHolders.h"
#include "base/AppError.h"

#include <QString>

// What the user reads when a device cannot be used: the cause first, then
// what to do, short enough for one line of the log.
namespace PortFailures {
AppError inUse(const QString& device, const std::optional<DeviceHolder>& holder);
AppError disconnected(const QString& device);

// Why opening device failed, judged from the device as it is now: missing,
// not ours to use, or held by someone (lockRefused: the driver found it
// locked); otherwise the driver's own text.
AppError openRefused(const QString& device, const DeviceHolders& holders, bool lockRefused,
                     const QString& driverText);
} // namespace PortFailures
