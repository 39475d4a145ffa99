#pragma once

#include <QByteArray>
#include <QString>

// How the journal's records are chained, so that a record changed, removed
// or put in afterwards shows. A record's last field is
//   SHA-256( hash of the record before it, as 64 hex digits
//            + the record's line up to the TAB before its own hash )
// in lowercase hex. A day's file opens with a "day" record whose text names
// the latest day file before it in the same folder and the hash that file
// ended with, and which follows that hash: a day's file can be checked on
// its own, and with the day before as one chain. A record with nothing
// chained before it (the first ever, or the first after records written
// before the chain existed) follows Start.
namespace JournalChain {
// 64 zeros.
extern const QByteArray Start;
constexpr int HashLength = 64;

// The hash of a record line (without its hash field and end of line) that
// follows the record whose hash is previous.
QByteArray next(const QByteArray& previous, const QByteArray& record);
// The hash at the end of a file's last bytes ("...\t<64 hex>\n"), or Start
// when they end otherwise: a file empty, cut short, or of records without
// a hash.
QByteArray lastHashIn(const QByteArray& fileEnd);
bool isHash(const QByteArray& field);
// The day record's fields (without its hash): time, "-", "-", "day", and
// "<file name of the day before> <its last hash>", or "- <Start>" when there
// is none.
QByteArray dayRecord(const QByteArray& time, const QString& before, const QByteArray& previous);
constexpr char DayEvent[] = "day";
// The file name and hash a day record's text names; false when it names none.
bool parseDayText(const QByteArray& text, QString* before, QByteArray* previous);
// What the first record of the day file at path follows: the last hash of
// the latest "YYYY-MM-DD.tsv" before it in its folder, or Start. *before
// names that file (empty when there is none).
QByteArray before(const QString& path, QString* before = nullptr);
} // namespace JournalChain
