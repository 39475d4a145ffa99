#include "JournalReader.h"

#include <QFile>
#include <QStringDecoder>

namespace {
// The offset of the first byte that is not UTF-8, or -1.
qsizetype notUtf8At(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return -1;
    // Where the first replacement character came from.
    const qsizetype at = text.indexOf(QChar::ReplacementCharacter);
    return at < 0 ? 0 : text.left(at).toUtf8().size();
}

// Why a line cannot be a record, or empty.
QString problemOf(const QByteArray& bytes, bool last) {
    if (last)
        return QStringLiteral("is cut short: the file ends inside the record (a power cut, or a "
                              "copy that was cut short)");
    if (const qsizetype at = notUtf8At(bytes); at >= 0)
        return QStringLiteral("has bytes that are not UTF-8 (at byte %1): Parvelo writes none, so "
                              "the line was changed or damaged")
            .arg(at + 1);
    const qsizetype fields = bytes.count('\t') + 1;
    if (fields < 5 || fields > 6)
        return QStringLiteral("has %1 TAB-separated fields; a record has 6 (5 when written before "
                              "records were chained): it was cut short by a failed write or "
                              "changed")
            .arg(fields);
    return {};
}
} // namespace

JournalReader::JournalReader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        stop(0, QStringLiteral("cannot be read (%1)").arg(file.errorString()));
        return;
    }
    const QByteArray content = file.readAll();
    if (content.isEmpty()) {
        stop(0, QStringLiteral("is empty: Parvelo writes a day's file with its first record, so "
                               "this one was emptied or cut short"));
        return;
    }
    const QList<QByteArray> raw = content.split('\n');
    // What follows the last end of line is empty in a whole file.
    for (int i = 0; i + 1 < raw.size() || !raw[i].isEmpty(); ++i) {
        const QString why = problemOf(raw[i], i + 1 == raw.size());
        const auto record = why.isEmpty() ? Journal::parse(raw[i]) : std::nullopt;
        if (!record) {
            stop(i + 1, why.isEmpty() ? QStringLiteral("does not start with a valid time") : why);
            return;
        }
        m_lines.append(Line{i + 1, raw[i], *record});
    }
}

void JournalReader::stop(int line, const QString& why) {
    m_problemLine = line;
    m_problem = why;
}
