#include "ReportedSettings.h"

ReportedSettings ReportedSettings::split(const QString& s) {
    // One parity letter, one data-bits digit and stop bits "1", "2" or
    // "1.5" (the only source of a "."): fixed widths from the end.
    const int L = s.size();
    const int x = s.contains(QLatin1Char('.')) ? 2 : 0;
    auto at = [&](int position) -> QChar { // counted from 1
        return position >= 1 && position <= L ? s.at(position - 1) : QChar();
    };
    ReportedSettings r;
    r.speed = s.left(qMax(0, L - 6 - x));
    const QChar parity = at(L - 4 - x);
    if (!parity.isNull())
        r.parityEntry = QStringLiteral("eonms").indexOf(parity, 0, Qt::CaseSensitive);
    const QChar data = at(L - 2 - x);
    r.dataBits = data.isNull() ? QString() : QString(data);
    r.stopBits = s.right(qMin(L, x + 1));
    return r;
}
