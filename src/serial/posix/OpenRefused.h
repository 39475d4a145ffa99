#pragma once

#include "DeviceHolders.h"
#include "base/AppError.h"

// Why opening device failed, judged from the device as it is now: missing,
// not ours to use, or held by someone (lockRefused: the driver found it
// locked); otherwise the driver's own text.
AppError openRefused(const QString& device, const DeviceHolders& holders, bool lockRefused,
                     const QString& driverText);
