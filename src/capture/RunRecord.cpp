#include "RunRecord.h"

#include "base/Workstation.h"

#include <QStringList>

namespace RunRecord {

QString text(const Run& run) {
    const auto orNone = [](const QString& s) { return s.isEmpty() ? QStringLiteral("(none)") : s; };
    return QStringList{
        QStringLiteral("user: ") + orNone(Workstation::userName()),
        QStringLiteral("computer: ") + orNone(Workstation::computerName()),
        QStringLiteral("Parvelo: %1.%2.%3")
            .arg(PARVELO_VERSION_MAJOR)
            .arg(PARVELO_VERSION_MINOR)
            .arg(PARVELO_VERSION_PATCH),
        QStringLiteral("port: ") + run.port,
        QStringLiteral("adapter: ") + orNone(run.adapter),
        QStringLiteral("serial: %1, handshaking %2").arg(run.serialSettings).arg(run.handshaking),
        QStringLiteral("Data: ") + run.data,
    }
        .join(QLatin1Char('\n'));
}

} // namespace RunRecord
