#include "JournalChain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace JournalChain {

const QByteArray Start(HashLength, '0');

QByteArray next(const QByteArray& previous, const QByteArray& record) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(previous);
    hash.addData(record);
    return hash.result().toHex();
}

bool isHash(const QByteArray& field) {
    if (field.size() != HashLength)
        return false;
    for (const char c : field)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

QByteArray lastHashIn(const QByteArray& fileEnd) {
    // TAB, the hash, the end of the line.
    constexpr int Tail = HashLength + 2;
    if (fileEnd.size() < Tail || !fileEnd.endsWith('\n') || fileEnd[fileEnd.size() - Tail] != '\t')
        return Start;
    const QByteArray hash = fileEnd.mid(fileEnd.size() - Tail + 1, HashLength);
    return isHash(hash) ? hash : Start;
}

QByteArray dayRecord(const QByteArray& time, const QString& before, const QByteArray& previous) {
    const QByteArray name = before.isEmpty() ? "-" : QFileInfo(before).fileName().toUtf8();
    return time + "\t-\t-\t" + DayEvent + '\t' + name + ' ' + previous;
}

bool parseDayText(const QByteArray& text, QString* before, QByteArray* previous) {
    const qsizetype space = text.lastIndexOf(' ');
    if (space < 1 || !isHash(text.mid(space + 1)))
        return false;
    *before = QString::fromUtf8(text.left(space));
    *previous = text.mid(space + 1);
    return true;
}

QByteArray before(const QString& path, QString* before) {
    const QFileInfo info(path);
    static const QRegularExpression dayFile(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}\\.tsv$"));
    QString latest;
    // Only a day file has a day before it.
    if (!dayFile.match(info.fileName()).hasMatch()) {
        if (before)
            before->clear();
        return Start;
    }
    for (const QString& name : info.dir().entryList({QStringLiteral("*.tsv")}, QDir::Files)) {
        // Names sort as their dates do.
        if (dayFile.match(name).hasMatch() && name < info.fileName() && name > latest)
            latest = name;
    }
    if (before)
        *before = latest.isEmpty() ? QString() : info.dir().filePath(latest);
    if (latest.isEmpty())
        return Start;
    QFile file(info.dir().filePath(latest));
    if (!file.open(QIODevice::ReadOnly))
        return Start;
    file.seek(qMax<qint64>(0, file.size() - (HashLength + 2)));
    return lastHashIn(file.readAll());
}

} // namespace JournalChain
