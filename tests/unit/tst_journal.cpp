// The journal of received readings: what is written can be read back byte for
// byte, days go to their own files, and an unwritable folder is reported once.
#include "capture/Journal.h"

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
            return {}; // not five fields, or no valid time
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

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
