// A reading run end to end without a window: bytes written on a
// pseudo-terminal become typed and logged lines; Stop, suspension and the
// error path behave as the main window relies on.
#include "FakePlatform.h"
#include "PtyPair.h"
#include "app/AppState.h"
#include "forms/main/ReadingLoop.h"
#include "serial/SerialPort.h"

#include <QSignalSpy>
#include <QtTest>

class TestReadingLoop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linesAreTypedAndLogged();
    void insertionModesApplyFromTheNextLine();
    void stopHandlesExactlyOneMoreByte();
    void stopWithPartialLineTypesNothing();
    void suspendedRunWaitsThenCatchesUp();
    void portThatCannotOpenGoesToTheErrorPath();
    void activationFailureTypesAndLogsNothing();
    void number75EndsSilently();
    void dateModeThatIsNotANumberFailsAtFirstLine();
    void hangUpEndsTheRunOnce();

private:
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<ReadingLoop> m_loop;
    AppState m_state;
    QString m_log;
    int m_clears = 0;
};

void TestReadingLoop::init()
{
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
    m_loop = std::make_unique<ReadingLoop>(
        *m_port, *m_platform, m_state,
        ReadingLoop::Log{[this](const QString& t) { m_log += t; },
                         [this] {
                             m_log.clear();
                             ++m_clears;
                         }},
        [fixed] { return fixed; });
}

void TestReadingLoop::cleanup()
{
    m_loop.reset();
    m_port.reset();
}

void TestReadingLoop::linesAreTypedAndLogged()
{
    m_loop->start();
    QVERIFY(m_port->PortOpen());
    QCOMPARE(m_clears, 1);
    // CR LF, CR alone, and an LF that arrives late.
    QVERIFY(m_pty->write("+12.5 g\r\n23.5 \xc2\xb0" "C\r11\r"));
    QTRY_COMPARE(m_platform->typed.size(), 3);
    QVERIFY(m_pty->write("\n1.511\r\n"));
    QTRY_COMPARE(m_platform->typed.size(), 4);
    const QStringList expected{"+12.5 g\r\n", QString::fromUtf8("23.5 °C\r\n"), "11\r\n",
                               "1.511\r\n"};
    QCOMPARE(m_platform->typed, expected);
    QCOMPARE(m_log, expected.join(QString()));
    QVERIFY(m_platform->activations.size() == 4 && m_platform->activations.first() == 7);
}

void TestReadingLoop::insertionModesApplyFromTheNextLine()
{
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
    QCOMPARE(m_platform->typed, QStringList({"a\r\n", "2026-12-07\t08:09:10\tb\r\n",
                                             "c\t2026-12-07\t08:09:10\r\n"}));
}

void TestReadingLoop::stopHandlesExactlyOneMoreByte()
{
    m_loop->start();
    m_loop->setSuspended(true); // let bytes pile up, as behind a modal dialog
    QVERIFY(m_pty->write("x\r\nyz\r\n"));
    QTRY_COMPARE(m_port->InBufferCount(), std::int16_t(7));
    // Resume handling only the "x"; then Stop takes the CR (which completes the
    // line) and its LF, and nothing more.
    m_loop->setSuspended(false);
    QSignalSpy stopped(m_loop.get(), &ReadingLoop::stopped);
    m_state.StopFlag = true; // the pump sees Stop before it runs
    QTest::qWait(20);
    QVERIFY(m_platform->typed.isEmpty());
    QVERIFY(m_port->Input() == "x"); // take one by hand: the loop did not
    m_loop->stop();
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(m_platform->typed, QStringList({"\r\n"}));
    QVERIFY(!m_port->PortOpen());
}

void TestReadingLoop::stopWithPartialLineTypesNothing()
{
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

void TestReadingLoop::suspendedRunWaitsThenCatchesUp()
{
    m_loop->start();
    m_loop->setSuspended(true);
    QVERIFY(m_pty->write("1\r\n2\r\n3\r\n"));
    QTest::qWait(100);
    QVERIFY(m_platform->typed.isEmpty());
    m_loop->setSuspended(false);
    QTRY_COMPARE(m_platform->typed, QStringList({"1\r\n", "2\r\n", "3\r\n"}));
}

void TestReadingLoop::portThatCannotOpenGoesToTheErrorPath()
{
    m_port->setPortResolver([](int) { return QString(); });
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QCOMPARE(halted.count(), 1);
    QVERIFY(!m_loop->isRunning());
    // The log was not cleared: the two lines come after what it held.
    QVERIFY(m_log.startsWith("guide\r\nThe reception error occurred.\r\nCom1 "));
    QVERIFY(m_log.endsWith("\r\n"));
    QCOMPARE(m_log.count("\r\n"), 3);
}

void TestReadingLoop::activationFailureTypesAndLogsNothing()
{
    m_platform->activateError = makeError(Err::NoTargetWindow, "The target window has gone.");
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("data\r\nmore\r\n"));
    QTRY_COMPARE(halted.count(), 1);
    QVERIFY(m_platform->typed.isEmpty());
    QCOMPARE(m_log, QString("The reception error occurred.\r\nThe target window has gone.\r\n"));
    QVERIFY(!m_port->PortOpen());
    QTest::qWait(50);
    QCOMPARE(halted.count(), 1);
}

void TestReadingLoop::number75EndsSilently()
{
    m_platform->typeError = makeError(Err::PathFileAccess, "Path/File access error");
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("data\r"));
    QTRY_COMPARE(halted.count(), 1);
    QCOMPARE(m_log, QString());
    QVERIFY(!m_port->PortOpen());
}

void TestReadingLoop::dateModeThatIsNotANumberFailsAtFirstLine()
{
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

void TestReadingLoop::hangUpEndsTheRunOnce()
{
    QSignalSpy halted(m_loop.get(), &ReadingLoop::halted);
    m_loop->start();
    QVERIFY(m_pty->write("12"));
    QTRY_COMPARE(m_loop->pendingLine(), QByteArray("12"));
    m_pty->closeMaster();
    QTRY_COMPARE(halted.count(), 1);
    QTest::qWait(200);
    QCOMPARE(halted.count(), 1);
    QVERIFY(m_platform->typed.isEmpty());
    QVERIFY(m_log.startsWith("The reception error occurred.\r\n"));
    QCOMPARE(m_log.count("\r\n"), 2);
}

QTEST_GUILESS_MAIN(TestReadingLoop)
#include "tst_readingloop.moc"
