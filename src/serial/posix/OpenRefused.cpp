#include "OpenRefused.h"

#include "serial/PortFailures.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

AppError openRefused(const QString& device, const DeviceHolders& holders, bool lockRefused,
                     const QString& driverText) {
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return PortFailures::missing(device);
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES)
        return makeError(Err::PortNotAvailable, permissionCause(device, st));
    if (const auto holder = holders.first(device))
        return PortFailures::inUse(device, holder);
    if (lockRefused)
        return PortFailures::inUse(device, std::nullopt);
    return PortFailures::cannotOpen(device, driverText);
}
