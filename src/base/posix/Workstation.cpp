#include "base/Workstation.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace Workstation {

QString userName() {
    // The account the process runs as, not $USER, which anyone may set.
    if (const passwd* p = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(p->pw_name);
    return QString::number(::geteuid());
}

QString computerName() {
    return QSysInfo::machineHostName();
}

} // namespace Workstation
