#pragma once

#include "Journal.h"

#include <QList>
#include <QString>

// A journal file read whole for checking or export: its records, each with
// its line number and bytes, up to the first line that is not a record. A
// file cut short, a line of too few fields or bytes that are not UTF-8 end
// the reading with the line number and why; nothing in a file is trusted.
class JournalReader {
public:
    struct Line {
        int number = 0;   // from 1
        QByteArray bytes; // without the end of line
        Journal::Record record;
    };

    explicit JournalReader(const QString& path);

    const QList<Line>& lines() const { return m_lines; }
    // Why the reading stopped early, empty when every line is a record.
    const QString& problem() const { return m_problem; }
    // The line it stopped at (0: the file as a whole).
    int problemLine() const { return m_problemLine; }

private:
    void stop(int line, const QString& why);

    QList<Line> m_lines;
    QString m_problem;
    int m_problemLine = 0;
};
