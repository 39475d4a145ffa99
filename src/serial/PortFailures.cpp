#include "PortFailures.h"

namespace {
const QString ChooseAnother = QStringLiteral("or choose another port in Property.");
} // namespace

namespace PortFailures {

AppError inUse(const QString& device, const std::optional<DeviceHolder>& holder) {
    const QString who =
        holder ? QStringLiteral("%1 (PID %2)")
                     .arg(holder->program.isEmpty() ? QStringLiteral("a program") : holder->program)
                     .arg(holder->pid)
               : QStringLiteral("another program");
    return makeError(Err::PortAlreadyOpen,
                     QStringLiteral("The device %1 is in use by %2. Close it, %3")
                         .arg(device, who, ChooseAnother));
}

AppError disconnected(const QString& device) {
    return makeError(Err::PortHungUp,
                     QStringLiteral("The device %1 was disconnected.").arg(device));
}

AppError missing(const QString& device) {
    return makeError(Err::PortNotAvailable,
                     QStringLiteral("The device %1 does not exist. Plug in the adapter, %2")
                         .arg(device, ChooseAnother));
}

AppError cannotOpen(const QString& device, const QString& driverText) {
    return makeError(Err::PortNotAvailable,
                     QStringLiteral("Cannot open %1: %2").arg(device, driverText));
}

AppError refused(const QString& what, const QString& device, const QString& driverText) {
    return makeError(Err::PortNotAvailable,
                     QStringLiteral("%1 %2: %3").arg(what, device, driverText));
}

} // namespace PortFailures
