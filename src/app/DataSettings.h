#pragma once

#include <QString>

// [Data]: what is asked of the instrument and what of each line is typed,
// as stored (capture/DataOptions reads and checks them). Absent keys are
// these defaults, which type every line exactly as received.
struct DataSettings {
    QString Request;                            // with \r \n \t \e \xHH escapes
    QString Identify;                           // asked once at Read Start; same escapes
    QString RequestEvery = QStringLiteral("0"); // seconds; 0: once at Read Start
    QString Keep;                               // regular expression; empty: all
    QString NumberOnly = QStringLiteral("0");   // 1: the first number only
    QString Decimal = QStringLiteral("locale"); // ".", "," or "locale"
    QString UnitColumn = QStringLiteral("0");   // 1: TAB and the unit after it
    QString Pick;                               // regular expression; empty: the whole line
    QString After = QStringLiteral("Return");   // Return, Tab, Down, Right or None
    QString PerRow = QStringLiteral("1");       // N >= 2: TAB between, Return after every N-th
    QString LineEnd = QStringLiteral("CR");     // CR, LF or Any
    QString Encoding = QStringLiteral("UTF-8"); // UTF-8, Latin-1, CP437, Shift-JIS
};
