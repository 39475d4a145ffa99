#pragma once

#include "base/AppError.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;
class QIODevice;

// The part of the log that has scrolled out of the log box since Read Start,
// kept as UTF-8 with CR LF line ends. It goes to an unnamed file in the user's cache folder, so
// memory stays flat over a run of weeks; when that file cannot be written the bytes stay in memory
// instead, so nothing is lost.
class LogHistory {
public:
    LogHistory();
    ~LogHistory();

    // text: whole log lines, each ended by "\n", as the log box holds them.
    void append(const QString& text);
    void clear();
    bool isEmpty() const { return m_size == 0; }
    qint64 size() const { return m_size; }
    // True while the history is on disk (false: in memory).
    bool isSpooled() const { return m_spool != nullptr; }

    // Every line appended since the last clear() can be written in the
    // system's narrow encoding without loss.
    bool fitsNarrow() const { return m_fitsNarrow; }
    // Writes everything appended since the last clear() to out, in the
    // narrow encoding or as UTF-8.
    Failure writeTo(QIODevice& out, bool narrow) const;

    // Log Save writes the log in the system's narrow encoding when every
    // character of it fits, else (a Windows code page without "日本" or
    // "µ") as UTF-8 after a byte order mark, which editors and spreadsheets
    // read as such: a reading is never saved as "?".
    static bool fitsNarrow(const QString& text);

private:
    // text as kept: UTF-8, CR LF line ends.
    static QByteArray bytesOf(const QString& text);
    void openSpool();
    bool spool(const QByteArray& bytes);

    std::unique_ptr<QFile> m_spool;
    QByteArray m_memory; // used when the spool failed
    qint64 m_size = 0;
    bool m_spoolTried = false;
    bool m_fitsNarrow = true;
};
