#include "Journal.h"

#include "JournalChain.h"
#include "base/SystemFile.h"

#include <QStandardPaths>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {
// Length of the valid UTF-8 sequence starting at b[i], or 0 when the byte
// does not start one (overlong forms, surrogates and > U+10FFFF included).
int utf8Length(const QByteArray& b, qsizetype i) {
    const auto at = [&](qsizetype k) { return uchar(b[k]); };
    const uchar c = at(i);
    if (c < 0x80)
        return 1;
    int n = 0;
    uchar lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : lo;
        hi = c == 0xED ? 0x9F : hi;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : lo;
        hi = c == 0xF4 ? 0x8F : hi;
    } else {
        return 0;
    }
    if (i + n > b.size() || at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (int k = 2; k < n; ++k)
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
    return n;
}

// ISO 8601 with milliseconds and always a numeric offset (Qt writes "Z" for
// UTC and nothing at all for local time).
QByteArray timeText(const QDateTime& at) {
    const int offset = at.offsetFromUtc();
    const QTime hoursMinutes = QTime(0, 0).addSecs(std::abs(offset));
    return (at.date().toString(Qt::ISODate) + 'T' + at.time().toString(Qt::ISODateWithMs) +
            (offset < 0 ? '-' : '+') + hoursMinutes.toString(QStringLiteral("HH:mm")))
        .toLatin1();
}

const char* eventName(Journal::Outcome outcome) {
    static const char* const names[] = {"typed",   "held",     "cut",     "not typed",
                                        "skipped", "verified", "changed", "unverified"};
    // as in Outcome
    return names[int(outcome)];
}

int hexValue(char c) {
    static const char digits[] = "0123456789abcdef";
    const char* hit = c ? std::strchr(digits, std::tolower(uchar(c))) : nullptr;
    return hit ? int(hit - digits) : -1;
}

// The characters escaped by a letter, and those letters.
const QByteArray Plain = "\\\t\r\n";
const QByteArray Letters = "\\trn";
} // namespace

Journal::Journal(QString folder, QObject* parent) : QObject(parent), m_folder(std::move(folder)) {
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setTimerType(Qt::PreciseTimer); // a coarse one may fire 5% late
    m_syncTimer.setInterval(1000);
    connect(&m_syncTimer, &QTimer::timeout, this, &Journal::sync);
}

Journal::~Journal() {
    closeFile();
}

QString Journal::defaultFolder() {
    // Honours $XDG_DATA_HOME, else ~/.local/share; on Windows %LOCALAPPDATA%.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Parvelo/journal");
}

QString Journal::received(const QDateTime& at, const QString& port, const QByteArray& line) {
    const QString id = QStringLiteral("%1.%2").arg(SystemFile::processId()).arg(++m_seq);
    append(at, port, id, "received", line);
    return id;
}

void Journal::outcome(const QDateTime& at, const QString& port, const QString& id, Outcome outcome,
                      const QString& detail) {
    append(at, port, id, eventName(outcome), detail.toUtf8());
}

void Journal::portEvent(const QDateTime& at, const QString& port, const char* event,
                        const QString& detail) {
    append(at, port, QStringLiteral("-"), event, detail.toUtf8());
}

QString Journal::pathFor(const QDate& day) const {
    return m_folder + '/' + day.toString(Qt::ISODate) + QStringLiteral(".tsv");
}

void Journal::append(const QDateTime& at, const QString& port, const QString& id, const char* event,
                     const QByteArray& text) {
    const QString path = pathFor(at.date());
    if (path != m_openPath)
        closeFile(); // a new day, or the last write failed
    if (m_file == SystemFile::NoFile && !openFor(path))
        return;
    const QByteArray fields = timeText(at) + '\t' + escape(port.toUtf8()) + '\t' + id.toUtf8() +
                              '\t' + event + '\t' + escape(text);
    // Held while the record before is looked up and this one written: another
    // Parvelo may append to the same day's file. A system that cannot lock
    // still gets the record.
    const bool locked = SystemFile::lock(m_file) == 0;
    QByteArray opening;
    const QByteArray previous = previousHash(path, at, &opening);
    // After a torn record the next one starts on a line of its own.
    const QByteArray record = (m_torn ? "\n" : "") + opening + fields + '\t' +
                              JournalChain::next(previous, fields) + '\n';
    // One write per record, so a killed process never leaves half of one.
    qint64 written = 0;
    const int error = SystemFile::write(m_file, record.constData(), record.size(), &written);
    if (locked)
        SystemFile::unlock(m_file);
    if (error) {
        fail(path, error);
        m_torn = m_torn || written > 0;
        closeFile(); // reopened by the next record: the disk may have space again
        return;
    }
    m_torn = false;
    m_reported = false;
    m_written = path;
    m_dirty = true;
    if (!m_syncTimer.isActive())
        m_syncTimer.start();
}

QByteArray Journal::previousHash(const QString& path, const QDateTime& at, QByteArray* opening) {
    char end[JournalChain::HashLength + 2];
    const qint64 n = SystemFile::readEnd(m_file, end, sizeof end);
    if (n != 0)
        return JournalChain::lastHashIn(n > 0 ? QByteArray(end, int(n)) : QByteArray());
    // A new day's file opens with the hash the day before ended with, so
    // that it can be checked on its own and together with that day.
    QString before;
    const QByteArray previous = JournalChain::before(path, &before);
    const QByteArray fields = JournalChain::dayRecord(timeText(at), before, previous);
    *opening = fields + '\t' + JournalChain::next(previous, fields) + '\n';
    return JournalChain::lastHashIn(*opening);
}

bool Journal::openFor(const QString& path) {
    int error = SystemFile::makeFolders(m_folder);
    if (!error)
        error = SystemFile::openAppend(path, &m_file);
    if (error) {
        fail(path, error);
        return false;
    }
    m_openPath = path;
    return true;
}

void Journal::closeFile() {
    sync();
    if (m_file != SystemFile::NoFile)
        SystemFile::close(m_file);
    m_file = SystemFile::NoFile;
    m_openPath.clear();
}

void Journal::sync() {
    m_syncTimer.stop();
    if (m_dirty && m_file != SystemFile::NoFile) {
        if (const int error = SystemFile::sync(m_file))
            fail(m_openPath, error);
    }
    m_dirty = false;
}

void Journal::fail(const QString& path, int error) {
    if (m_reported)
        return;
    m_reported = true;
    m_failure = makeError(Err::JournalWriteFailed,
                          QStringLiteral("The journal %1 cannot be written (%2). Readings are "
                                         "still typed but are not kept in the journal.")
                              .arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

Failure Journal::takeFailure() {
    return std::exchange(m_failure, std::nullopt);
}

QByteArray Journal::escape(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar c = uchar(bytes[i]);
        const int n = utf8Length(bytes, i);
        if (const qsizetype k = Plain.indexOf(char(c)); k >= 0)
            out += QByteArray("\\") + Letters[k];
        else if (n == 0 || c < 0x20 || c == 0x7F)
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
        else
            out += bytes.mid(i, n);
        i += n > 0 ? n : 1;
    }
    return out;
}

QByteArray Journal::unescape(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const int high = i + 3 < text.size() ? hexValue(text[i + 2]) : -1;
        const int low = i + 3 < text.size() ? hexValue(text[i + 3]) : -1;
        const qsizetype k = next ? Letters.indexOf(next) : -1;
        if (text[i] != '\\') {
            out += text[i];
        } else if (k >= 0) {
            out += Plain[k];
            i += 1;
        } else if (next == 'x' && high >= 0 && low >= 0) {
            out += char(high * 16 + low);
            i += 3;
        } else {
            out += '\\'; // not written by escape(): kept as it is
        }
    }
    return out;
}

std::optional<Journal::Record> Journal::parse(const QByteArray& recordLine) {
    const QList<QByteArray> f = recordLine.split('\t');
    if (f.size() != 5 && f.size() != 6)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(f[0]), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return Record{time,
                  QString::fromUtf8(unescape(f[1])),
                  QString::fromUtf8(f[2]),
                  QString::fromUtf8(f[3]),
                  unescape(f[4]),
                  f.value(5)};
}
