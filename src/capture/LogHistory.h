#pragma once

#include "base/AppError.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;
class QIODevice;

// The part of the log that has scrolled out of the log box since Read Start,
// kept as the bytes Log Save writes (the system's narrow encoding, CR LF line
// ends). It goes to an unnamed file in the user's cache folder, so memory
// stays flat over a run of weeks; when that file cannot be written the bytes
// stay in memory instead, so nothing is lost.
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

    // Writes everything appended since the last clear() to out.
    Failure writeTo(QIODevice& out) const;

    // The bytes Log Save writes for text taken from the log box.
    static QByteArray bytesOf(const QString& text);

private:
    void openSpool();
    bool spool(const QByteArray& bytes);

    std::unique_ptr<QFile> m_spool;
    QByteArray m_memory; // used when the spool failed
    qint64 m_size = 0;
    bool m_spoolTried = false;
};
