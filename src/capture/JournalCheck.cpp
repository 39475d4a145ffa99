#include "JournalCheck.h"

#include "JournalChain.h"
#include "JournalReader.h"

#include <QDir>
#include <QFileInfo>

namespace {
QByteArray withoutHash(const QByteArray& line) {
    return line.left(line.size() - JournalChain::HashLength - 1);
}

const QString Moved = QStringLiteral(
    "; this record or the one before it was changed, or a record was removed or put in "
    "between them");
} // namespace

JournalCheck JournalCheck::of(const QString& path) {
    JournalCheck c;
    c.path = path;
    const JournalReader file(path);
    const auto broken = [&c](int line, const QString& why) {
        c.brokenLine = line;
        c.why = why;
        return c;
    };
    QByteArray previous = JournalChain::Start;
    int unchained = 0;
    bool chained = false;
    for (const JournalReader::Line& l : file.lines()) {
        ++c.records;
        const Journal::Record& r = l.record;
        if (r.hash.isEmpty()) {
            // Records of an earlier Parvelo come before any chained one.
            if (chained)
                return broken(l.number, QStringLiteral("has no hash, although the records before "
                                                       "it have one: its hash was removed, it "
                                                       "was put in afterwards, or an older "
                                                       "Parvelo wrote it"));
            ++unchained;
            previous = JournalChain::Start;
            continue;
        }
        if (!JournalChain::isHash(r.hash))
            return broken(l.number, QStringLiteral("ends in \"%1\", which is no SHA-256 hash "
                                                   "(64 hex digits)")
                                        .arg(QString::fromUtf8(r.hash.left(80))));
        QString before;
        QByteArray named;
        if (l.number == 1 && r.event == QLatin1String(JournalChain::DayEvent) &&
            JournalChain::parseDayText(r.text, &before, &named)) {
            QString beside;
            const QByteArray ended = JournalChain::before(path, &beside);
            if (!beside.isEmpty() && ended != named)
                return broken(l.number,
                              QStringLiteral("says the day before, %1, ended with hash %2, but "
                                             "it ends with %3: a record at the end of %1 was "
                                             "changed, removed or added")
                                  .arg(QFileInfo(beside).fileName(), QString::fromLatin1(named),
                                       QString::fromLatin1(ended)));
            if (beside.isEmpty() && before != QLatin1String("-"))
                c.note = QStringLiteral("the day before, %1, is not beside it, so the link to "
                                        "that day was not checked")
                             .arg(before);
            previous = named;
        } else if (l.number == 1) {
            previous = JournalChain::before(path);
        }
        if (JournalChain::next(previous, withoutHash(l.bytes)) != r.hash)
            return broken(l.number, QStringLiteral("does not match its hash") + Moved);
        previous = r.hash;
        chained = true;
    }
    if (!file.problem().isEmpty())
        return broken(file.problemLine(), file.problem());
    if (!chained && file.lines().size() > 0)
        return broken(0, QStringLiteral("has no chained record (it was written before Parvelo "
                                        "chained its records), so it cannot be checked"));
    if (unchained > 0)
        c.note = QStringLiteral("%1 records written before records were chained are not "
                                "covered by the chain")
                     .arg(unchained);
    c.intact = true;
    return c;
}

QString JournalCheck::summary() const {
    const QString name = QDir::toNativeSeparators(path);
    if (!intact)
        return brokenLine > 0 ? QStringLiteral("%1: line %2 %3.").arg(name).arg(brokenLine).arg(why)
                              : QStringLiteral("%1 %2.").arg(name, why);
    return QStringLiteral("%1: intact (%2 records)%3.")
        .arg(name)
        .arg(records)
        .arg(note.isEmpty() ? QString() : QStringLiteral("; ") + note);
}
