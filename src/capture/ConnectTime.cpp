#include "ConnectTime.h"

Clock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

namespace ConnectTime {
QString format(qint64 elapsedSeconds) {
    const qint64 s = ((elapsedSeconds % 86400) + 86400) % 86400;
    return QStringLiteral("%1:%2:%3 ")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

qint64 elapsedSeconds(const QDateTime& start, const QDateTime& now) {
    return qMax<qint64>(0, start.secsTo(now));
}

// ISO forms: readable, the same in the log and the target, and taken as a
// date and a time by every spreadsheet whatever its locale.
QString dateText(const QDateTime& now) {
    return now.date().toString(QStringLiteral("yyyy-MM-dd"));
}
QString timeText(const QDateTime& now) {
    return now.time().toString(QStringLiteral("HH:mm:ss"));
}
} // namespace ConnectTime
