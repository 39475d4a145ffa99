#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// The local date and time; tests replace it to move time on.
using Clock = std::function<QDateTime()>;
Clock systemClock();

namespace ConnectTime {
// Elapsed time as "hh:mm:ss " (trailing blank), whole days not shown.
QString format(qint64 elapsedSeconds);
// Elapsed whole seconds from start to now; a clock set back counts as 0.
qint64 elapsedSeconds(const QDateTime& start, const QDateTime& now);
// Date and time texts inserted into typed lines.
QString dateText(const QDateTime& now);
QString timeText(const QDateTime& now);
} // namespace ConnectTime
