#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

// The readings of journal files as CSV (RFC 4180: CRLF, fields with a
// comma, quote or line end in quotes), one row a reading with what became of
// it, for a LIMS or a reviewer. A run is what one Read Start began on one
// port: its readings are those received on that port until the next start
// there; what became of them is looked up by the reading's id in every file
// given, as a held reading is typed in a later run.
class JournalExport {
public:
    static const QByteArray Header;

    // Reads the files in the order given. Their problems (a file cut short,
    // a line that is no record) are in problems(); what comes before a
    // problem is still exported.
    explicit JournalExport(const QStringList& files);

    int runCount() const { return m_runs; }
    // Run from 1, or 0 for every reading. False when there is no such run.
    bool write(QIODevice& out, int run = 0) const;
    const QStringList& problems() const { return m_problems; }

    static QByteArray csvField(const QByteArray& text);

private:
    struct Row {
        QByteArray time, port, id, text;
        int run = 0; // 0: received before any start record
    };
    struct Fate {
        QByteArray outcome, landed;
    };
    void take(const QString& path);

    QList<Row> m_rows;
    QHash<QByteArray, Fate> m_fates;
    QHash<QByteArray, int> m_runOfPort; // the latest run on each port
    int m_runs = 0;
    QStringList m_problems;
};
