// A reading run end to end without a window: bytes written on a
// pseudo-terminal become typed, logged and journalled lines; holding, Stop,
// suspension and the error path behave as the main window relies on.
#include "FakePlatform.h"
#include "PtyPair.h"
#include "app/AppState.h"
#include "capture/Journal.h"
#include "capture/ReadingLoop.h"
#include "platform/KeyActions.h"
#include "platform/TargetReader.h"
#include "serial/SerialPort.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestReadingLoop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void linesAreTypedAndLogged();
    void insertionModesApplyFromTheNextLine();
    void heldWhileTheTargetCannotTakeKeys();
    void lineCutByAFocusChangeIsFinishedLater();
    void spreadsheetCellCutAfterItsTextGetsNoDelete();
    void journalThatCannotBeWrittenIsReportedOnce();
    void aFullHoldRefusesReadingsVisibly();
    void aReadingThatCannotBeTypedIsFoundInABatch();
    void aLineWithoutItsEndIsDroppedAndToldOnce();
    void stopWithPartialLineTypesNothing();
    void readingsFillRowsAndStopEndsTheRow();
    void suspendedRunWaitsThenCatchesUp();
    void identityIsAskedFirstAndJournalledNotTyped();
    void portThatCannotOpenGoesToTheErrorPath();
    void activationFailureTypesAndLogsNothing();
    void number75EndsSilently();
    void dateModeThatIsNotANumberFailsAtFirstLine();
    void hangUpWaitsForTheSameDevice();
    void readBackIsJournalledAndMarked();

private:
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<ReadingLoop> m_loop;
    // The journal's records as "event text" lines.
    QStringList journal() const;
    // More than a pty holds: in pieces it takes whole, read between them.
    bool writeInPieces(const QByteArray& bytes);
    // Where the run looks for devices' serial names (read once a process).
    QTemporaryDir m_names;
    AppState m_state;
    QString m_log;
    int m_clears = 0;
};

namespace {
// A target read back as the test says: it notes what it was told to expect,
// and how much had been typed by then.
class ScriptedReader : public TargetReader {
public:
    explicit ScriptedReader(FakePlatform& platform) : m_platform(platform) {}
    void follow(qint64, const QString&) override { ++follows; }
    void expect(const ExpectedText& text) override {
        expected << text.id;
        typedBefore << m_platform.text().size();
    }
    void retract(const QString&, const QString&) override {}
    void give(const ReadBack& r) { emit readBack(r); }
    void cannot(const QString& why) { emit unreadable(why); }
    QStringList expected;
    QList<qsizetype> typedBefore;
    int follows = 0;

private:
    FakePlatform& m_platform;
};
} // namespace

void TestReadingLoop::initTestCase() {
    qputenv("PARVELO_SERIAL_BY_ID", m_names.path().toLocal8Bit());
}

void TestReadingLoop::init() {
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    m_port = std::make_unique<SerialPort>();
    m_port->setPortResolver([this](int) { return m_pty->slavePath(); });
    m_platform = std::make_unique<FakePlatform>();
    m_state = AppState();
    m_state.TaskId = 7;
    m_log = "guide\r\n";
    m_clears = 0;
    const QDateTime fixed(QDate(2026, 12, 7), QTime(8, 9, 10));
    m_data = std::make_unique<QTemporaryDir>();
    m_journal = std::make_unique<Journal>(m_data->path());
    m_loop =
        std::make_unique<ReadingLoop>(*m_port, *m_platform, m_state, *m_journal,
                                      ReadingLoop::Log{[this](const QString& t) { m_log += t; },
                                                       [this] {
                                                           m_log.clear();
                                                           ++m_clears;
                                                       }},
                                      [fixed] { return fixed; });
}

void TestReadingLoop::cleanup() {
    m_loop.reset();
    m_port.reset();
    m_journal.reset();
}

bool TestReadingLoop::writeInPieces(const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size(); at += 2048) {
        if (!m_pty->write(bytes.mid(at, 2048)))
            return false;
        QTest::qWait(1);
    }
    return true;
}

QStringList TestReadingLoop::journal() const {
    QStringList out;
    QFile f(m_journal->currentPath());
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        // The readings' and the port's records; a day's and a run's opening
        // records are checked by the tests of the journal.
        if (const auto r = Journal::parse(line); r && r->event != "day" && r->event != "started")
            out << r->event + ' ' + QString::fromUtf8(Journal::unescape(r->text));
    }
    return out;
}

void TestReadingLoop::linesAreTypedAndLogged() {
    m_loop->start();
    QVERIFY(m_port->PortOpen());
    QCOMPARE(m_clears, 1);
    // CR LF, CR alone, and an LF that arrives late.
    QVERIFY(m_pty->write("+12.5 g\r\n23.5 \xc2\xb0"
                         "C\r11\r"));
    QTRY_COMPARE(m_platform->text().count("\r\n"), 3);
    QVERIFY(m_pty->write("\n1.511\r\n"));
    QTRY_COMPARE(m_platform->text().count("\r\n"), 4);
    const QStringList expected{"+12.5 g\r\n", QString::fromUtf8("23.5 °C\r\n"), "11\r\n",
                               "1.511\r\n"};
    QCOMPARE(m_platform->text(), expected.join(QString()));
    QCOMPARE(m_log, expected.join(QString()));
    QVERIFY(!m_platform->activations.isEmpty() && m_platform->activations.first() == 7);
}

void TestReadingLoop::insertionModesApplyFromTheNextLine() {
    m_loop->start();
    QVERIFY(m_pty->write("a\r\n"));
    QTRY_COMPARE(m_platform->typed.size(), 1);
    m_state.InsertDate = "1";
    m_state.InsertTime = 1;
    QVERIFY(m_pty->write("b\r\n"));
    QTRY_COMPARE(m_platform->typed.size(), 2);
    m_state.InsertDate = "2";
    m_state.InsertTime = 2;
    QVERIFY(m_pty->write("c\r\n"));
    QTRY_COMPARE(m_platform->typed.size(), 3);
    QCOMPARE(m_platform->typed,
             QStringList({"a\r\n", "2026-12-07\t08:09:10\tb\r\n", "c\t2026-12-07\t08:09:10\r\n"}));
}

void TestReadingLoop::heldWhileTheTargetCannotTakeKeys() {
    m_platform->activateError =
        makeError(Err::TargetBusy, "the target shows the dialog \"Refused\"");
    m_loop->start();
    QVERIFY(m_pty->write("1\r\n2\r\n"));
    QTRY_COMPARE(m_loop->heldCount(), 2);
    QCOMPARE(m_loop->state(), RunState::Holding);
    QVERIFY(m_platform->typed.isEmpty());
    QCOMPARE(m_log, QString("Readings are held: the target shows the dialog \"Refused\".\r\n"
                            "[held] 1\r\n[held] 2\r\n"));
    // Held readings survive Stop; the next start types them first, in order.
    m_loop->stop();
    QCOMPARE(m_loop->heldCount(), 2);
    m_platform->activateError.reset();
    m_loop->start();
    QTRY_COMPARE(m_platform->text(), QString("1\r\n2\r\n"));
    QVERIFY(m_pty->write("3\r\n"));
    QTRY_COMPARE(m_platform->text(), QString("1\r\n2\r\n3\r\n"));
    QCOMPARE(m_loop->state(), RunState::Reading);
    QCOMPARE(m_loop->heldCount(), 0);
    QVERIFY(m_log.endsWith("1\r\n2\r\n3\r\n"));
    QCOMPARE(journal(), QStringList({"received 1", "received 2",
                                     "held the target shows the dialog \"Refused\"",
                                     "held the target shows the dialog \"Refused\"", "typed target",
                                     "typed target", "received 3", "typed target"}));
}

void TestReadingLoop::lineCutByAFocusChangeIsFinishedLater() {
    m_loop->start();
    m_platform->cutAfter = 4;
    QVERIFY(m_pty->write("123456789\r\nnext\r\n"));
    QTRY_COMPARE(m_platform->text(), QString("123456789\r\nnext\r\n"));
    // Nothing typed twice, nothing skipped; the rest came after the cut.
    QCOMPARE(m_platform->typed.first(), QString("1234"));
    QVERIFY(m_log.startsWith("[cut after 4 of 11 characters; the rest is held] 123456789\r\n"));
    QVERIFY(m_log.endsWith("123456789\r\nnext\r\n"));
    QVERIFY(journal().contains(
        "cut after 4 of 11 characters: the keyboard focus left the target window"));
}

void TestReadingLoop::spreadsheetCellCutAfterItsTextGetsNoDelete() {
    m_platform->windowClass = "libreoffice-calc libreoffice-calc";
    m_loop->start();
    // The focus goes right after "'=1+1": the user may have left the cell
    // meanwhile, so Delete (which would clear the cell under the cursor) is
    // not sent with the rest.
    m_platform->cutAfter = 5;
    QVERIFY(m_pty->write("=1+1\r\n-3.5 C\r\n"));
    const QString del(QChar(KeyActions::DeleteMark));
    QTRY_COMPARE(m_platform->text(), "'=1+1\r\n-3.5 C" + del + "\r\n");
    QVERIFY(m_log.contains("=1+1 [the cell shows \"'=1+1\"]\r\n-3.5 C\r\n"));
    QVERIFY(m_log.contains("LibreOffice Calc shows the apostrophe"));
    QVERIFY(journal().contains("typed target; the cell shows \"'=1+1\""));
}

void TestReadingLoop::journalThatCannotBeWrittenIsReportedOnce() {
    QFile file(m_data->filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    Journal unwritable(file.fileName() + "/journal"); // below a file: fails even as root
    ReadingLoop loop(*m_port, *m_platform, m_state, unwritable,
                     {[this](const QString& t) { m_log += t; }, [] {}});
    m_loop.reset();
    loop.start();
    QVERIFY(m_pty->write("a\r\nb\r\n"));
    QTRY_COMPARE(m_platform->text(), QString("a\r\nb\r\n"));
    QCOMPARE(m_log.count("cannot be written"), 1);
    QVERIFY(m_log.endsWith("a\r\nb\r\n"));
}

void TestReadingLoop::aFullHoldRefusesReadingsVisibly() {
    m_platform->activateError = makeError(Err::TargetBusy, "busy");
    m_loop->start();
    const int extra = 3;
    QByteArray burst;
    for (int i = 0; i < HeldReadings::MaxCount + extra; ++i)
        burst += QByteArray::number(i) + "\r\n";
    QVERIFY(writeInPieces(burst));
    QTRY_COMPARE_WITH_TIMEOUT(m_log.count("[not typed] "), extra, 60000);
    QCOMPARE(m_loop->heldCount(), HeldReadings::MaxCount);
    QCOMPARE(m_log.count("the most Parvelo keeps"), 1);
    QVERIFY(m_log.endsWith(QStringLiteral("[not typed] %1\r\n").arg(HeldReadings::MaxCount + 2)));
    QCOMPARE(journal().count("not typed too many readings are held"), extra);
}

void TestReadingLoop::aReadingThatCannotBeTypedIsFoundInABatch() {
    m_platform->refuse = "bad";
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    m_loop->setSuspended(true); // the three wait together
    QVERIFY(m_pty->write("ok\r\nbad\r\nnext\r\n"));
    QTRY_COMPARE(journal().count(), 3);
    m_loop->setSuspended(false);
    QTRY_COMPARE(halted.count(), 1);
    QCOMPARE(m_platform->text(), QString("ok\r\n"));
    QCOMPARE(m_log, QString("ok\r\n[not typed] bad\r\n[held] next\r\n"
                            "The reception error occurred.\r\nThe keyboard has no key for it.\r\n"
                            "2 readings were received but not typed; 1 of them are held, and "
                            "Read Start types them first.\r\n"));
}

void TestReadingLoop::aLineWithoutItsEndIsDroppedAndToldOnce() {
    m_loop->start();
    const QByteArray noEnd(10000, 'x'); // e.g. a wrong speed: no CR comes through
    for (int i = 0; i < 2; ++i) {
        QVERIFY(writeInPieces(noEnd));
        QVERIFY(m_pty->write("\r\nafter\r\n"));
    }
    QTRY_COMPARE(m_platform->text(), QString("after\r\nafter\r\n"));
    QCOMPARE(m_log,
             QString("No line end in 4096 bytes: check the speed, the data bits and the line "
                     "end of the instrument.\r\nafter\r\nafter\r\n"));
    const QStringList records = journal();
    QCOMPARE(records.count("received " + QString(4096, 'x')), 2);
    QCOMPARE(records.count("not typed no line end in 4096 bytes"), 2);
}

void TestReadingLoop::stopWithPartialLineTypesNothing() {
    m_loop->start();
    QVERIFY(m_pty->write("partial"));
    QTRY_COMPARE(m_loop->pendingLine(), QByteArray("partial"));
    m_state.StopFlag = true;
    m_loop->stop();
    QVERIFY(m_platform->typed.isEmpty());
    QCOMPARE(m_log, QString());
    // The next run starts from an empty line.
    m_state.StopFlag = false;
    m_loop->start();
    QVERIFY(m_pty->write("new\r"));
    QTRY_COMPARE(m_platform->typed, QStringList({"new\r\n"}));
}

// Two channels, the reading after the channel, three to a row with the time
// after each; a line Pick does not fit takes no cell. Stop in the middle of
// a row ends it, so the next run starts a new row.
void TestReadingLoop::readingsFillRowsAndStopEndsTheRow() {
    DataSettings s;
    s.Pick = R"(^\d+,(.*))";
    s.NumberOnly = "1";
    s.Decimal = ".";
    s.PerRow = "3";
    AppError error;
    m_loop->setDataOptions(*DataOptions::from(s, &error));
    m_state.InsertTime = 2;
    m_loop->start();
    QVERIFY(m_pty->write("1,+21.50\r\n2,+22.50\r\nERR\r\n1,+21.60\r\n2,-0.40\r\n"));
    QTRY_COMPARE(m_platform->text().count("08:09:10"), 4);
    m_state.StopFlag = true;
    m_loop->stop();
    QVERIFY(m_log.contains("[skipped] ERR\r\n"));
    m_state.StopFlag = false;
    m_loop->start();
    // Until this run has a line, the last run's are what the dialog shows.
    QCOMPARE(m_loop->recentLines().size(), 5);
    QVERIFY(m_pty->write("1,21.70\r\n"));
    QTRY_COMPARE(m_platform->text().count("08:09:10"), 5);
    QCOMPARE(m_platform->text(), QString("21.50\t08:09:10\t22.50\t08:09:10\t21.60\t08:09:10\r\n"
                                         "-0.40\t08:09:10\t\r\n21.70\t08:09:10\t"));
    QCOMPARE(m_loop->recentLines(), QStringList({"1,21.70"}));
}

// Identify goes alone at Read Start; the answer names the instrument in the
// journal and the log, is not typed, and only then is the request sent. An
// instrument that does not answer delays the run by IdentifyWaitMs.
void TestReadingLoop::identityIsAskedFirstAndJournalledNotTyped() {
    DataSettings s;
    s.Identify = "I4\\r\\n";
    s.Request = "S\\r\\n";
    AppError error;
    m_loop->setDataOptions(*DataOptions::from(s, &error));
    // What the instrument is sent; the port writes from the event loop.
    const auto sent = [this](const QByteArray& expected) {
        QByteArray got;
        QTRY_VERIFY((got += m_pty->readAvailable(0)).size() >= expected.size());
        QTest::qWait(50);
        QCOMPARE(got + m_pty->readAvailable(0), expected);
    };
    m_loop->start();
    sent("I4\r\n");
    QVERIFY(m_pty->write("I4 A \"B021002593\"\r\n"));
    sent("S\r\n");
    QVERIFY(m_pty->write("S S 12.5 g\r\n"));
    QTRY_COMPARE(m_platform->typed, QStringList({"S S 12.5 g\r\n"}));
    QCOMPARE(journal(), QStringList({"instrument I4 A \"B021002593\"", "received S S 12.5 g",
                                     "typed target"}));
    QVERIFY(m_log.startsWith("Instrument: I4 A \"B021002593\"\r\n"));

    m_loop->stop();
    m_loop->start();
    sent("I4\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(journal().last().startsWith("instrument no answer"),
                             ReadingLoop::IdentifyWaitMs * 2);
    sent("S\r\n");
    QCOMPARE(m_platform->typed.size(), 1);
}

void TestReadingLoop::suspendedRunWaitsThenCatchesUp() {
    m_loop->start();
    m_loop->setSuspended(true);
    QVERIFY(m_pty->write("1\r\n2\r\n3\r\n"));
    QTest::qWait(100);
    QVERIFY(m_platform->typed.isEmpty());
    m_loop->setSuspended(false);
    QTRY_COMPARE(m_platform->text(), QString("1\r\n2\r\n3\r\n"));
}

void TestReadingLoop::portThatCannotOpenGoesToTheErrorPath() {
    m_port->setPortResolver([](int) { return QString(); });
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QCOMPARE(halted.count(), 1);
    QVERIFY(!m_loop->isRunning());
    // The log was not cleared: the two lines come after what it held.
    QVERIFY(m_log.startsWith("guide\r\nThe reception error occurred.\r\nCom1 "));
    QVERIFY(m_log.endsWith("\r\n0 readings were received but not typed.\r\n"));
    QCOMPARE(m_log.count("\r\n"), 4);
}

void TestReadingLoop::activationFailureTypesAndLogsNothing() {
    m_platform->activateError = makeError(Err::NoTargetWindow, "The target window has gone.");
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("data\r\n"));
    QTRY_COMPARE(halted.count(), 1);
    QVERIFY(m_platform->typed.isEmpty());
    QCOMPARE(m_log, QString("[not typed] data\r\nThe reception error occurred.\r\n"
                            "The target window has gone.\r\n"
                            "1 readings were received but not typed.\r\n"));
    QCOMPARE(journal(), QStringList({"received data", "not typed The target window has gone."}));
    QVERIFY(!m_port->PortOpen());
    QTest::qWait(50);
    QCOMPARE(halted.count(), 1);
}

void TestReadingLoop::number75EndsSilently() {
    m_platform->typeError = makeError(Err::PathFileAccess, "Path/File access error");
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("data\r"));
    QTRY_COMPARE(halted.count(), 1);
    QCOMPARE(m_log, QString("[not typed] data\r\n"));
    QVERIFY(!m_port->PortOpen());
}

void TestReadingLoop::dateModeThatIsNotANumberFailsAtFirstLine() {
    m_state.InsertDate = "";
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("partial"));
    QTest::qWait(50);
    QCOMPARE(halted.count(), 0);
    QVERIFY(m_pty->write("\r"));
    QTRY_COMPARE(halted.count(), 1);
    QCOMPARE(halted.first().first().value<AppError>().number, Err::TypeMismatch);
    QVERIFY(m_platform->typed.isEmpty());
}

void TestReadingLoop::hangUpWaitsForTheSameDevice() {
    // The port is a link to the pty, as udev's names are; the serial name
    // says which adapter it is.
    QTemporaryDir dir;
    const QString node = dir.filePath("ttyUSB0");
    const auto plug = [&](PtyPair& pty, const QString& name) {
        QFile::remove(node);
        for (const QString& old : QDir(m_names.path()).entryList(QDir::System))
            QFile::remove(m_names.filePath(old));
        QVERIFY(QFile::link(pty.slavePath(), m_names.filePath(name)));
        QVERIFY(QFile::link(pty.slavePath(), node));
    };
    plug(*m_pty, "usb-A");
    m_port->setPortResolver([&](int) { return node; });
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    // A reading held by a dialog of the target when the adapter goes.
    m_platform->activateError = makeError(Err::TargetBusy, "a dialog is open");
    m_loop->start();
    QVERIFY(m_pty->write("1\r\n12"));
    QTRY_COMPARE(m_loop->pendingLine(), QByteArray("12"));
    QTRY_COMPARE(m_loop->heldCount(), 1);

    m_pty->closeMaster();
    QFile::remove(node);
    QTRY_COMPARE(m_loop->state(), RunState::WaitingForDevice);
    QCOMPARE(m_loop->awaitedDevice(), node);
    QVERIFY(!m_port->PortOpen());
    QCOMPARE(m_loop->heldCount(), 1);
    QTest::qWait(600); // the target is asked again meanwhile; the run still waits
    QCOMPARE(m_loop->state(), RunState::WaitingForDevice);
    QVERIFY(m_log.contains("[not typed] 12\r\nThe device " + node +
                           " was disconnected. Waiting "
                           "for it to come back since 08:09:10; Stop ends the wait.\r\n"));

    // Another adapter at the same node is left alone.
    PtyPair other;
    plug(other, "usb-B");
    QTRY_VERIFY(m_log.contains("is now another device (usb-B), not the adapter usb-A"));
    QCOMPARE(m_loop->state(), RunState::WaitingForDevice);
    QVERIFY(!m_port->PortOpen());
    // The held reading is typed as soon as the target takes keys, device or not.
    m_platform->activateError.reset();
    QTRY_COMPARE(m_platform->text(), QString("1\r\n"));
    QCOMPARE(m_loop->state(), RunState::WaitingForDevice);

    // The same one comes back: reading goes on without a click.
    PtyPair same;
    plug(same, "usb-A");
    QTRY_COMPARE(m_loop->state(), RunState::Reading);
    QVERIFY(m_port->PortOpen());
    QVERIFY(same.write("2\r\n"));
    QTRY_COMPARE(m_platform->text(), QString("1\r\n2\r\n"));
    QCOMPARE(halted.count(), 0);
    QVERIFY(m_log.contains(node + " is back at 08:09:10"));
    const QStringList records = journal();
    QCOMPARE(records.filter(QRegularExpression("^device ")).size(), 3);
    QVERIFY(records.filter("device gone ").size() == 1 &&
            records.filter("device back away from").size() == 1);
    QVERIFY(records.contains("not typed the device went away before the end of the line"));

    // Stop ends a wait.
    same.closeMaster();
    QTRY_COMPARE(m_loop->state(), RunState::WaitingForDevice);
    m_loop->stop();
    QCOMPARE(m_loop->state(), RunState::Stopped);
    QCOMPARE(halted.count(), 0);
    QCOMPARE(journal()
                 .filter(QRegularExpression("^device not back Stop after [0-9.]+ s away "
                                            "\\(from "))
                 .size(),
             1);
}

void TestReadingLoop::readBackIsJournalledAndMarked() {
    ScriptedReader reader(*m_platform);
    m_loop.reset();
    ReadingLoop loop(*m_port, *m_platform, m_state, *m_journal,
                     {[this](const QString& t) { m_log += t; }, [] {}}, systemClock(), nullptr,
                     &reader);
    loop.start();
    QVERIFY(m_pty->write("ok 23.5\r\n12\r\n"));
    QTRY_COMPARE(m_platform->text(), QString("ok 23.5\r\n12\r\n"));
    // Each reading is announced before its keys go out.
    QCOMPARE(reader.expected.size(), 2);
    QCOMPARE(reader.typedBefore.first(), 0);
    QCOMPARE(reader.follows, 1);

    reader.give({"no such reading", ReadBack::Result::Changed, "A9", true, "x"});
    reader.give({reader.expected[0], ReadBack::Result::Changed, "A2", true, "Ok 23.5"});
    reader.give({reader.expected[1], ReadBack::Result::Verified, "A3", true, {}});
    reader.cannot("the target went away");
    const QStringList records = journal();
    QVERIFY2(records.contains("changed A2: the cell shows \"Ok 23.5\""),
             qPrintable(records.join('|')));
    QVERIFY(records.contains("verified A3"));
    QVERIFY(records.contains("unverified the target went away"));
    QCOMPARE(records.filter("A9").size(), 0);
    QVERIFY(m_log.contains("ok 23.5 [changed by the target: the cell shows \"Ok 23.5\"]\r\n"));
    QCOMPARE(m_log.count("The target changed a reading"), 1);
    QCOMPARE(loop.typing().verified(), 1);
    QCOMPARE(loop.typing().changed(), 1);
}

QTEST_GUILESS_MAIN(TestReadingLoop)
#include "tst_readingloop.moc"
