#include "RunRecord.h"

#include "app/DataSettings.h"
#include "base/Workstation.h"

#include <QStringList>

#include <utility>

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

QString dataText(const DataSettings& d) {
    const std::pair<const char*, QString> items[] = {
        {"Identify", d.Identify},
        {"Request", d.Request},
        {"RequestEvery", d.RequestEvery},
        {"Keep", d.Keep},
        {"NumberOnly", d.NumberOnly},
        {"Decimal", d.Decimal},
        {"UnitColumn", d.UnitColumn},
        {"Pick", d.Pick},
        {"After", d.After},
        {"PerRow", d.PerRow},
        {"LineEnd", d.LineEnd},
        {"Encoding", d.Encoding},
    };
    QStringList out;
    for (const auto& [key, value] : items)
        out << QLatin1String(key) + QLatin1Char('=') + value;
    return out.join(QStringLiteral("; "));
}

} // namespace RunRecord
