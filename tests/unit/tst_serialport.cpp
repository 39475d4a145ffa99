// The serial component against a real pseudo-terminal pair: properties and
// their refusals, open and close, fetching, and a hang-up.
#include "PtyPair.h"
#include "serial/PortDirectory.h"
#include "serial/SerialPort.h"

#include <QSignalSpy>
#include <QtTest>

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void initialConfiguration();
    void refusalsKeepThePreviousValue();
    void openReadOneCharacterAtATimeAndReopen();
    void inputLenZeroTakesEverything();
    void refusedAtOpen();
    void settingsChangeWhileOpen();
    void parityMarksBecomeQuestionMarks();
    void parityRefusedByAPseudoTerminal();
    void hangUpClosesThePortOnce();
    void portOrder();

private:
    static QByteArray waitAndTake(SerialPort& port, int count);
};

QByteArray TestSerialPort::waitAndTake(SerialPort& port, int count)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < count && t.elapsed() < 5000) {
        if (port.InBufferCount() == 0)
            QTest::qWait(5);
        got += port.Input();
    }
    return got;
}

void TestSerialPort::initialConfiguration()
{
    SerialPort port;
    QCOMPARE(port.CommPort(), std::int16_t(1));
    QCOMPARE(port.Settings(), QString("9600,n,8,1"));
    QCOMPARE(port.Handshaking(), 0);
    QVERIFY(!port.PortOpen());
    QCOMPARE(port.InBufferCount(), std::int16_t(0));
    QCOMPARE(port.Input(), QByteArray());
    QVERIFY(!port.setPortOpen(false)); // closing a closed port is fine
}

void TestSerialPort::refusalsKeepThePreviousValue()
{
    SerialPort port;
    QVERIFY(!port.setSettings("1200,E,5,1.5"));
    QCOMPARE(port.Settings(), QString("1200,e,5,1.5"));
    Failure f = port.setSettings("1200,x,5,1");
    QVERIFY(f);
    QCOMPARE(f->number, Err::InvalidPropertyValue);
    QCOMPARE(port.Settings(), QString("1200,e,5,1.5"));

    QVERIFY(!port.setCommPort(3));
    for (int bad : {0, -1, 17, 32767}) {
        f = port.setCommPort(bad);
        QVERIFY(f);
        QCOMPARE(f->number, Err::PortNumberInvalid);
        QCOMPARE(port.CommPort(), std::int16_t(3));
    }
    QVERIFY(!port.setHandshaking(2));
    QVERIFY(port.setHandshaking(4));
    QVERIFY(port.setHandshaking(-1));
    QCOMPARE(port.Handshaking(), 2);
}

void TestSerialPort::openReadOneCharacterAtATimeAndReopen()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialPort port;
    port.setPortResolver([&](int n) { return n == 2 ? pty.slavePath() : QString(); });
    QVERIFY(!port.setCommPort(2));
    QVERIFY(!port.setInputLen(1));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(port.PortOpen());
    QCOMPARE(port.setPortOpen(true)->number, Err::PortAlreadyOpen);
    QCOMPARE(port.setCommPort(3)->number, Err::PortAlreadyOpen);
    QCOMPARE(port.CommPort(), std::int16_t(2));

    QSignalSpy arrived(&port, &SerialPort::dataReceived);
    QVERIFY(pty.write("+12.5 g\r\n"));
    QTRY_VERIFY(port.InBufferCount() >= 9);
    QVERIFY(arrived.count() >= 1);
    QCOMPARE(port.Input(), QByteArray("+"));
    QCOMPARE(port.Input(), QByteArray("1"));
    QCOMPARE(port.InBufferCount(), std::int16_t(7));
    QCOMPARE(waitAndTake(port, 7), QByteArray("2.5 g\r\n"));
    QCOMPARE(port.Input(), QByteArray());

    QVERIFY(!port.setPortOpen(false));
    QVERIFY(!port.PortOpen());
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(pty.write("abc"));
    QCOMPARE(waitAndTake(port, 3), QByteArray("abc"));
    // Writing to the device is not something the program does, but the port
    // is really open for both directions.
    QVERIFY(!port.setPortOpen(false));
}

void TestSerialPort::inputLenZeroTakesEverything()
{
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setInputLen(0));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(pty.write("0123456789"));
    QTRY_COMPARE(port.InBufferCount(), std::int16_t(10));
    QCOMPARE(port.Input(), QByteArray("0123456789"));
}

void TestSerialPort::refusedAtOpen()
{
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int n) { return n == 1 ? pty.slavePath() : QString(); });
    QVERIFY(!port.setSettings("9600,n,4,1"));
    Failure f = port.setPortOpen(true);
    QVERIFY(f);
    QCOMPARE(f->number, Err::PortSettingUnsupported);
    QVERIFY(f->message.contains("4 data bits"));
    QVERIFY(!port.PortOpen());

    QVERIFY(!port.setSettings("9600,n,8,1"));
    QVERIFY(!port.setCommPort(5)); // no device behind Com5
    f = port.setPortOpen(true);
    QVERIFY(f);
    QCOMPARE(f->number, Err::PortNotAvailable);
    QVERIFY(f->message.contains("Com5"));

    port.setPortResolver([](int) { return QStringLiteral("/dev/nonexistent-tty"); });
    f = port.setPortOpen(true);
    QVERIFY(f);
    QVERIFY(f->message.contains("/dev/nonexistent-tty"));
    QVERIFY(!port.PortOpen());
}

void TestSerialPort::settingsChangeWhileOpen()
{
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setPortOpen(true));
    // Speeds without a standard constant are set through the custom-speed path.
    for (const char* s : {"14400,n,8,1", "256000,n,8,2", "115200,n,8,1"}) {
        QVERIFY2(!port.setSettings(s), s);
        QCOMPARE(port.Settings(), QString(s));
    }
    QVERIFY(port.setSettings("9600,n,7,1.5"));
    QCOMPARE(port.Settings(), QString("115200,n,8,1"));
    QVERIFY(port.PortOpen());
}

void TestSerialPort::parityMarksBecomeQuestionMarks()
{
    ParityMarks marks;
    QCOMPARE(marks.decode(QByteArray("a\xff\0xb", 5)), QByteArray("a?b"));
    QCOMPARE(marks.decode(QByteArray("\xff\xff", 2)), QByteArray("\xff"));
    // Marks split across reads.
    QCOMPARE(marks.decode(QByteArray("1\xff", 2)), QByteArray("1"));
    QCOMPARE(marks.decode(QByteArray("\0", 1)), QByteArray());
    QCOMPARE(marks.decode(QByteArray("z2", 2)), QByteArray("?2"));
    QCOMPARE(marks.decode(QByteArray("\xff", 1)), QByteArray());
    QCOMPARE(marks.decode(QByteArray("\xff" "3", 2)), QByteArray("\xff" "3"));
    QCOMPARE(marks.decode(QByteArray("\xff\x41", 2)), QByteArray("\xff\x41"));
}

void TestSerialPort::parityRefusedByAPseudoTerminal()
{
    // A pseudo-terminal cannot do parity; the refusal names the device and
    // leaves the port closed.
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setSettings("9600,e,8,1"));
    const Failure f = port.setPortOpen(true);
    QVERIFY(f);
    QVERIFY(f->message.contains(pty.slavePath()));
    QVERIFY(!port.PortOpen());
}

void TestSerialPort::hangUpClosesThePortOnce()
{
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setPortOpen(true));
    QSignalSpy failed(&port, &SerialPort::failed);
    pty.closeMaster();
    QTRY_VERIFY(!port.PortOpen());
    QTest::qWait(200);
    QCOMPARE(failed.count(), 1);
    const AppError e = failed.first().first().value<AppError>();
    QVERIFY(!e.message.isEmpty());
}

void TestSerialPort::portOrder()
{
    const QStringList got = PortDirectory::ordered(
        {"ttyACM0", "ttyUSB10", "ttyS1", "ttyUSB2", "rfcomm0", "ttyS0", "ttyUSB0"});
    QCOMPARE(got, QStringList({"ttyS0", "ttyS1", "ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0",
                               "rfcomm0"}));
    // Whatever is present, the list has no phantom UARTs and is stable.
    QCOMPARE(PortDirectory::presentDevices(), PortDirectory::presentDevices());
    QCOMPARE(PortDirectory::deviceFor(0), QString());
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
