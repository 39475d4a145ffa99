// The journal of received readings: what is written can be read back byte for
// byte, days go to their own files, and an unwritable folder is reported once.
// The hash chain holds across days and writers, and damaged files are named
// by their line (tampering with a run's journal: tests/e2e/test_journal_evidence.py).
#include "capture/Journal.h"
#include "capture/JournalCheck.h"

#include <QtTest>

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<Journal::Record> records(const QString& path) {
    const QByteArray content = readAll(path);
    if (!content.endsWith('\n'))
        return {};
    QList<Journal::Record> out;
    for (const QByteArray& line : content.chopped(1).split('\n')) {
        const auto record = Journal::parse(line);
        if (!record)
            return {}; // not five or six fields, or no valid time
        // The record that opens a day's file is the chain's, not a reading's.
        if (record->event != "day")
            out << *record;
    }
    return out;
}
} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void roundTripThroughTheFile();
    void eachDayHasItsFile();
    void unwritableFolderIsReportedOncePerOutage();
    void daysAndWritersMakeOneChain();
    void damageIsNamedByItsLine();
};

void TestJournal::roundTripThroughTheFile() {
    QTemporaryDir dir;
    const QDateTime at(QDate(2026, 12, 7), QTime(15, 4, 5, 123), Qt::OffsetFromUTC, 3600);
    const QDateTime utc(QDate(2026, 12, 7), QTime(16, 0), Qt::UTC);
    const QString port = QStringLiteral("Com1 /dev/ttyUSB0\t°");
    const QByteArray line = QByteArray("a\tb\nc\rd\\x41 ") + "\xB0 \xFF \xE6\x97 \xC0\x80 " +
                            "\xED\xA0\x80 \xF4\x90\x80\x80 \x01\x7F " + "日本 25.0°C";
    const QString detail = QStringLiteral("Sheet 1 \\ Calc\nline two");

    QString id, emptyId;
    {
        Journal journal(dir.path());
        id = journal.received(at, port, line);
        journal.outcome(at.addMSecs(7), port, id, Journal::Outcome::Typed, detail);
        emptyId = journal.received(utc, port, QByteArray());
        journal.outcome(utc, port, emptyId, Journal::Outcome::NotTyped, QString());
        QVERIFY(!journal.takeFailure());
        QCOMPARE(journal.currentPath(), dir.filePath("2026-12-07.tsv"));
    }
    QVERIFY(id != emptyId);

    const QByteArray content = readAll(dir.filePath("2026-12-07.tsv"));
    QVERIFY(content.startsWith("2026-12-07T15:04:05.123+01:00\t"));
    QVERIFY(content.contains("\n2026-12-07T16:00:00.000+00:00\t"));
    // Invalid UTF-8 is escaped and valid characters are kept as they are.
    QCOMPARE(QString::fromUtf8(content).toUtf8(), content);
    QVERIFY(content.contains("日本 25.0°C"));
    QVERIFY(content.contains(R"(a\tb\nc\rd\\x41 \xb0 \xff \xe6\x97 \xc0\x80 \xed\xa0\x80 )"
                             R"(\xf4\x90\x80\x80 \x01\x7f )"));

    const QList<Journal::Record> r = records(dir.filePath("2026-12-07.tsv"));
    QCOMPARE(r.size(), 4);
    const QStringList events{"received", "typed", "received", "not typed"};
    for (int i = 0; i < r.size(); ++i) {
        QCOMPARE(r[i].event, events[i]);
        QCOMPARE(r[i].port, port);
    }
    QCOMPARE(r[0].time, at);
    QCOMPARE(r[0].text, line);
    QCOMPARE(r[1].id, id);
    QCOMPARE(r[1].time, at.addMSecs(7));
    QCOMPARE(QString::fromUtf8(r[1].text), detail);
    QCOMPARE(r[2].id, emptyId);
    QCOMPARE(r[3].id, emptyId);
    QCOMPARE(r[2].time, utc);
    QVERIFY(r[2].text.isEmpty());

    // Every byte value, alone and next to the escape characters.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    all += all + "\\x" + "\\" + "\\\\n";
    QCOMPARE(Journal::unescape(Journal::escape(all)), all);
}

void TestJournal::eachDayHasItsFile() {
    QTemporaryDir dir;
    const QDateTime before(QDate(2026, 12, 7), QTime(23, 59, 59, 900), Qt::OffsetFromUTC, 3600);
    Journal journal(dir.path() + "/journal");
    journal.received(before, "Com1", "1.5");
    journal.received(before.addMSecs(200), "Com1", "2.5");

    const QList<Journal::Record> first = records(dir.filePath("journal/2026-12-07.tsv"));
    const QList<Journal::Record> second = records(dir.filePath("journal/2026-12-08.tsv"));
    QCOMPARE(first.size(), 1);
    QCOMPARE(second.size(), 1);
    QCOMPARE(first[0].text, QByteArray("1.5"));
    QCOMPARE(second[0].text, QByteArray("2.5"));
    QCOMPARE(journal.currentPath(), dir.filePath("journal/2026-12-08.tsv"));
    QCOMPARE(QFileInfo(dir.filePath("journal")).permissions() & 0x0777, QFile::Permissions(0x0700));
}

void TestJournal::unwritableFolderIsReportedOncePerOutage() {
    QTemporaryDir dir;
    // A folder under a regular file cannot be created, not even by root.
    const auto blockFolder = [&] {
        QFile file(dir.filePath("file"));
        return file.open(QIODevice::WriteOnly);
    };
    QVERIFY(blockFolder());
    const QDateTime at(QDate(2026, 12, 7), QTime(9, 0), Qt::OffsetFromUTC, 3600);
    Journal journal(dir.filePath("file/journal"));

    QVERIFY(!journal.received(at, "Com1", "1").isEmpty());
    const Failure failure = journal.takeFailure();
    QVERIFY(failure);
    QCOMPARE(failure->number, Err::JournalWriteFailed);
    QVERIFY(failure->message.contains(dir.filePath("file/journal/2026-12-07.tsv")));
    QVERIFY(!journal.received(at, "Com1", "2").isEmpty());
    QVERIFY(!journal.takeFailure());

    // The folder becomes writable: writing resumes, and the next outage is
    // reported again.
    QVERIFY(QFile::rename(dir.filePath("file"), dir.filePath("gone")));
    journal.received(at, "Com1", "3");
    QVERIFY(!journal.takeFailure());
    QCOMPARE(records(dir.filePath("file/journal/2026-12-07.tsv")).size(), 1);
    QVERIFY(QDir(dir.filePath("file")).removeRecursively());
    QVERIFY(blockFolder());
    journal.received(at.addDays(1), "Com1", "4");
    QVERIFY(journal.takeFailure());
}

void TestJournal::daysAndWritersMakeOneChain() {
    QTemporaryDir dir;
    const QDateTime late(QDate(2026, 12, 7), QTime(23, 59, 59, 500), Qt::OffsetFromUTC, 3600);
    const QString day1 = dir.filePath("2026-12-07.tsv"), day2 = dir.filePath("2026-12-08.tsv");
    {
        // Two Parvelos (two instruments) append to the same files in turn.
        Journal a(dir.path()), b(dir.path());
        const QString id = a.received(late, "Com1", "1.5");
        b.received(late.addMSecs(100), "Com2", "7");
        a.outcome(late.addMSecs(200), "Com1", id, Journal::Outcome::Typed, "Sheet");
        a.received(late.addMSecs(600), "Com1", "2.5"); // after midnight
        b.received(late.addMSecs(700), "Com2", "8");
    }
    QCOMPARE(records(day1).size(), 3);
    QCOMPARE(records(day2).size(), 2);
    for (const QString& day : {day1, day2}) {
        const JournalCheck c = JournalCheck::of(day);
        QVERIFY2(c.intact && c.note.isEmpty(), qPrintable(c.summary()));
    }
    // The new day opens with the hash the day before ended with.
    const QByteArray opening = readAll(day2).split('\n').first();
    QVERIFY(opening.contains("\tday\t2026-12-07.tsv " + readAll(day1).right(65).left(64)));

    // On its own a day checks as far as it can, and says what it could not.
    QTemporaryDir alone;
    QVERIFY(QFile::copy(day2, alone.filePath("2026-12-08.tsv")));
    const JournalCheck single = JournalCheck::of(alone.filePath("2026-12-08.tsv"));
    QVERIFY(single.intact);
    QVERIFY(single.note.contains("2026-12-07.tsv"));

    // The last record of a day removed: that day cannot tell, the next one does.
    QByteArray first = readAll(day1);
    first.chop(1);
    first.truncate(first.lastIndexOf('\n') + 1);
    QFile file(day1);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(first);
    file.close();
    QVERIFY(JournalCheck::of(day1).intact);
    const JournalCheck next = JournalCheck::of(day2);
    QVERIFY(!next.intact);
    QCOMPARE(next.brokenLine, 1);
    QVERIFY2(next.why.contains("2026-12-07.tsv"), qPrintable(next.why));
}

void TestJournal::damageIsNamedByItsLine() {
    QTemporaryDir dir;
    const QDateTime at(QDate(2026, 12, 7), QTime(9, 0), Qt::OffsetFromUTC, 3600);
    // Records of an earlier Parvelo, then the chain from where it took over.
    const QByteArray old = "2026-12-07T08:00:00.000+01:00\tCom1\t1.1\treceived\t0.5\n"
                           "2026-12-07T08:00:00.100+01:00\tCom1\t1.1\ttyped\tSheet\n";
    const QString path = dir.filePath("2026-12-07.tsv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(old);
    file.close();
    {
        Journal journal(dir.path());
        for (int i = 0; i < 4; ++i)
            journal.received(at.addSecs(i), "Com1", QByteArray::number(i) + " g");
    }
    const QByteArray whole = readAll(path);
    const JournalCheck good = JournalCheck::of(path);
    QVERIFY2(good.intact && good.records == 6, qPrintable(good.summary()));
    QVERIFY(good.note.contains("2 records"));

    QList<QByteArray> lines = whole.split('\n'); // the last is empty
    const auto join = [](QList<QByteArray> l) { return l.join('\n'); };
    const auto fields = [&](int line, int count) {
        QList<QByteArray> l = lines;
        l[line - 1] = l[line - 1].split('\t').mid(0, count).join('\t');
        return join(l);
    };
    const auto replaced = [&](int line, const QByteArray& from, const QByteArray& to) {
        QList<QByteArray> l = lines;
        l[line - 1].replace(from, to);
        return join(l);
    };
    struct Case {
        const char* name;
        QByteArray content;
        int line;
        const char* why;
    } cases[] = {
        {"torn last line", whole.chopped(7), 6, "cut short"},
        {"too few fields", fields(4, 3), 4, "has 3 TAB-separated fields"},
        {"hash taken off", fields(5, 5), 5, "has no hash"},
        {"not UTF-8", replaced(5, " g", "\xff g"), 5, "not UTF-8 (at byte"},
        {"no time", replaced(3, "2026-12-07T", "x"), 3, "valid time"},
        {"hash not hex", replaced(6, "\t", "\tz"), 6, "no SHA-256 hash"},
        {"empty", QByteArray(), 0, "is empty"},
        {"never chained", old, 0, "cannot be checked"},
    };
    for (const Case& c : cases) {
        const QString copy = dir.filePath(QStringLiteral("copy/%1/2026-12-07.tsv").arg(c.name));
        QVERIFY(QDir().mkpath(QFileInfo(copy).path()));
        QFile f(copy);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(c.content);
        f.close();
        const JournalCheck check = JournalCheck::of(copy);
        QVERIFY2(!check.intact, c.name);
        QVERIFY2(check.brokenLine == c.line && check.why.contains(c.why),
                 qPrintable(QStringLiteral("%1: %2").arg(c.name, check.summary())));
    }
    // A file that is no file.
    QVERIFY(!JournalCheck::of(dir.filePath("copy")).intact);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
