#include "PortFailures.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString ChooseAnother = QStringLiteral("or choose another port in Property.");

// Why the device refuses us, with what fixes it. A device that its group
// may use (dialout on Debian and Ubuntu, uucp on some) is fixed by joining
// that group; a group's new member has it only from the next login on.
QString permissionCause(const QString& device, const struct stat& st) {
    const mode_t rw = S_IRGRP | S_IWGRP;
    const group* g = st.st_gid != 0 && (st.st_mode & rw) == rw ? ::getgrgid(st.st_gid) : nullptr;
    if (g) {
        const QString name = QString::fromLocal8Bit(g->gr_name);
        return QStringLiteral("No permission to open %1: only members of the %2 group may use "
                              "it. Run sudo usermod -aG %2 $USER, then log in again.")
            .arg(device, name);
    }
    const passwd* owner = ::getpwuid(st.st_uid);
    return QStringLiteral("No permission to open %1: only its owner %2 may use it. Ask your "
                          "administrator for access to it.")
        .arg(device, owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid));
}
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

AppError openRefused(const QString& device, const DeviceHolders& holders, bool lockRefused,
                     const QString& driverText) {
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return makeError(Err::PortNotAvailable,
                         QStringLiteral("The device %1 does not exist. Plug in the adapter, %2")
                             .arg(device, ChooseAnother));
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES)
        return makeError(Err::PortNotAvailable, permissionCause(device, st));
    if (const auto holder = holders.first(device))
        return inUse(device, holder);
    if (lockRefused)
        return inUse(device, std::nullopt);
    return makeError(Err::PortNotAvailable,
                     QStringLiteral("Cannot open %1: %2").arg(device, driverText));
}

} // namespace PortFailures
