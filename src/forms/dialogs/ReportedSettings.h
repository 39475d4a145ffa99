#pragma once

#include <QString>

// The fields of a settings string as the serial component reports it
// ("9600,n,8,1", "1200,e,5,1.5"), taken by counting from its end.
struct ReportedSettings {
    QString speed;
    int parityEntry = -1; // position in Even, Odd, None, Mark, Space; -1: none
    QString dataBits;
    QString stopBits;

    // Only the lower-case letters e, o, n, m and s name a parity entry.
    static ReportedSettings split(const QString& s);
};
