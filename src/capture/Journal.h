#pragma once

#include "base/AppError.h"
#include "base/SystemFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <optional>

// Keeps every received line, as it arrives, in one file per day, so that a
// crash of the program loses nothing and a power cut at most the last second.
// A record is one line of six TAB-separated fields:
//   time  port  id  event  text  hash
// The hash chains each record to the one before it (JournalChain); records
// written before it existed have the first five fields only.
// Each record reaches the kernel in a single write(2); the data is synced to
// disk at most a second later. A journal that cannot be written never stops
// the reading: the failure is reported once and writing is tried again.
class Journal : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Typed, Held, Cut, NotTyped, Skipped, Verified, Changed, Unverified };
    struct Record {
        QDateTime time;
        QString port;
        QString id;
        QString event;
        QByteArray text;
        QByteArray hash; // empty in a record written before the chain
    };

    explicit Journal(QString folder = defaultFolder(), QObject* parent = nullptr);
    ~Journal() override; // syncs and closes
    // $XDG_DATA_HOME/Parvelo/journal, default ~/.local/share/Parvelo/journal
    static QString defaultFolder();

    // Appends a "received" record for one line as received (raw bytes, no CR)
    // and returns the reading's id. The record is written to the OS before
    // this returns. The day file and the time written are those of `at` in
    // its own time zone (callers pass local time).
    QString received(const QDateTime& at, const QString& port, const QByteArray& line);
    // Appends what became of a reading: "typed" (detail: the target window's
    // title), "held", "cut", "not typed" (detail: why), "skipped" (the Data
    // settings leave it out; detail: why); after "typed", what the target was
    // read back to hold: "verified" (detail: where), "changed" (where, and what
    // it shows instead), "unverified" (why).
    void outcome(const QDateTime& at, const QString& port, const QString& id, Outcome outcome,
                 const QString& detail);
    // Appends what happened to the port itself (the device went away, came
    // back, a run started with these settings); such a record has no
    // reading, so its id is "-".
    void portEvent(const QDateTime& at, const QString& port, const char* event,
                   const QString& detail);
    // fdatasync when anything was written since the last sync (Stop, exit).
    void sync();
    // The first write failure, once; then nullopt until another failure after
    // a successful write.
    Failure takeFailure();
    QString currentPath() const { return m_written; } // the day file written last
    QString pathFor(const QDate& day) const;

    // The format, for readers and tests.
    static QByteArray escape(const QByteArray& bytes);
    static QByteArray unescape(const QByteArray& text);
    // A record of five or six fields, without the final \n.
    static std::optional<Record> parse(const QByteArray& recordLine);

private:
    void append(const QDateTime& at, const QString& port, const QString& id, const char* event,
                const QByteArray& text);
    // The hash the next record in the open file follows; *opening is the
    // record that opens a new day's file (JournalChain::dayRecord).
    QByteArray previousHash(const QString& path, const QDateTime& at, QByteArray* opening);
    bool openFor(const QString& path);
    void closeFile();
    void fail(const QString& path, int error);

    QString m_folder;
    QString m_openPath; // of m_file
    QString m_written;
    SystemFile::Handle m_file = SystemFile::NoFile;
    quint64 m_seq = 0;
    bool m_dirty = false;
    bool m_torn = false;     // a record was cut short by a failed write
    bool m_reported = false; // a failure was reported since the last good write
    Failure m_failure;
    QTimer m_syncTimer;
};
