#include "LogHistory.h"

#include "base/SpoolFile.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringDecoder>

LogHistory::LogHistory() = default;
LogHistory::~LogHistory() = default;

bool LogHistory::fitsNarrow(const QString& text) {
    return QString::fromLocal8Bit(text.toLocal8Bit()) == text;
}

QByteArray LogHistory::bytesOf(const QString& text) {
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return crlf.toUtf8();
}

void LogHistory::openSpool() {
    m_spoolTried = true;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    // Nameless: a crash leaves nothing behind in the cache folder.
    auto file = openSpoolFile(folder);
    if (!file)
        return;
    m_spool = std::move(file);
}

bool LogHistory::spool(const QByteArray& bytes) {
    if (!m_spool && !m_spoolTried)
        openSpool();
    if (!m_spool)
        return false;
    const qint64 at = m_spool->pos();
    if (m_spool->write(bytes) == bytes.size() && m_spool->flush())
        return true;
    // A full disk: what did not fit stays in memory from here on.
    m_spool->resize(at);
    m_spool->seek(at);
    return false;
}

void LogHistory::append(const QString& text) {
    m_fitsNarrow = m_fitsNarrow && fitsNarrow(text);
    const QByteArray bytes = bytesOf(text);
    if (bytes.isEmpty())
        return;
    if (m_memory.isEmpty() && spool(bytes)) {
        m_size += bytes.size();
        return;
    }
    m_memory += bytes;
    m_size += bytes.size();
}

void LogHistory::clear() {
    if (m_spool) {
        m_spool->resize(0);
        m_spool->seek(0);
    }
    m_memory.clear();
    m_memory.squeeze();
    m_size = 0;
    m_fitsNarrow = true;
}

Failure LogHistory::writeTo(QIODevice& out, bool narrow) const {
    const auto failed = [&out] { return makeError(Err::PathFileAccess, out.errorString()); };
    // Kept as UTF-8: for the narrow encoding each piece is converted on the
    // way (the decoder keeps a character split between two pieces).
    QStringDecoder fromUtf8(QStringConverter::Utf8);
    const auto write = [&](const QByteArray& bytes) {
        const QByteArray out8 = narrow ? QString(fromUtf8(bytes)).toLocal8Bit() : bytes;
        return out.write(out8) == out8.size();
    };
    if (m_spool) {
        const qint64 end = m_spool->pos();
        // Read through our own handle: the file has no name any more.
        if (!m_spool->seek(0))
            return makeError(Err::PathFileAccess, m_spool->errorString());
        QByteArray chunk;
        qint64 left = end;
        while (left > 0) {
            chunk = m_spool->read(std::min<qint64>(left, 1 << 20));
            if (chunk.isEmpty()) {
                m_spool->seek(end);
                return makeError(Err::PathFileAccess, m_spool->errorString());
            }
            if (!write(chunk)) {
                m_spool->seek(end);
                return failed();
            }
            left -= chunk.size();
        }
        m_spool->seek(end);
    }
    if (!m_memory.isEmpty() && !write(m_memory))
        return failed();
    return std::nullopt;
}
