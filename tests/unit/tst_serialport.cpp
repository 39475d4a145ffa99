// The serial component against a real pseudo-terminal pair: properties and
// their refusals, open and close, fetching, a hang-up, and who else may
// use the device.
#include "PtyPair.h"
#include "serial/PortDirectory.h"
#include "serial/SerialPort.h"
#include "serial/posix/DeviceHolders.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Runs as the user nobody while it lives, so that the kernel's permission
// checks apply; a user other than root is unprivileged already.
class Unprivileged {
public:
    Unprivileged() {
        if (::geteuid() != 0) {
            m_ok = true;
            return;
        }
        const passwd* pw = ::getpwnam("nobody");
        m_dropped = pw && ::setegid(pw->pw_gid) == 0 && ::seteuid(pw->pw_uid) == 0;
        m_ok = m_dropped;
    }
    ~Unprivileged() {
        if (m_dropped && (::seteuid(0) != 0 || ::setegid(m_gid) != 0))
            qFatal("cannot become root again");
    }
    bool ok() const { return m_ok; }

private:
    gid_t m_gid = ::getegid();
    bool m_ok = false;
    bool m_dropped = false;
};

// The lock file Qt's serial port takes for device.
QString lockFileFor(const QString& device) {
    for (const QString& path : DeviceHolders::lockFileCandidates(device))
        if (QFileInfo(QFileInfo(path).path()).isWritable())
            return path;
    return {};
}

enum class Situation {
    OtherPortObject,
    Cat,
    LiveLock,
    StaleLock,
    NoPermission,
    OwnerOnly,
    NoDevice
};
} // namespace
Q_DECLARE_METATYPE(Situation)

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
    void openRefusedWithItsCause_data();
    void openRefusedWithItsCause();
    void openPortShutsOthersOut();
    void socatPortOpensASecondReaderDoesNot();
    void portOrder();

private:
    static QByteArray waitAndTake(SerialPort& port, int count);
};

QByteArray TestSerialPort::waitAndTake(SerialPort& port, int count) {
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

void TestSerialPort::initialConfiguration() {
    SerialPort port;
    QCOMPARE(port.CommPort(), std::int16_t(1));
    QCOMPARE(port.Settings(), QString("9600,n,8,1"));
    QCOMPARE(port.Handshaking(), 0);
    QVERIFY(!port.PortOpen());
    QCOMPARE(port.InBufferCount(), std::int16_t(0));
    QCOMPARE(port.Input(), QByteArray());
    QVERIFY(!port.setPortOpen(false)); // closing a closed port is fine
}

void TestSerialPort::refusalsKeepThePreviousValue() {
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

void TestSerialPort::openReadOneCharacterAtATimeAndReopen() {
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

void TestSerialPort::inputLenZeroTakesEverything() {
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setInputLen(0));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(pty.write("0123456789"));
    QTRY_COMPARE(port.InBufferCount(), std::int16_t(10));
    QCOMPARE(port.Input(), QByteArray("0123456789"));
}

void TestSerialPort::refusedAtOpen() {
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

void TestSerialPort::settingsChangeWhileOpen() {
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

void TestSerialPort::parityMarksBecomeQuestionMarks() {
    ParityMarks marks;
    QCOMPARE(marks.decode(QByteArray("a\xff\0xb", 5)), QByteArray("a?b"));
    QCOMPARE(marks.decode(QByteArray("\xff\xff", 2)), QByteArray("\xff"));
    // Marks split across reads.
    QCOMPARE(marks.decode(QByteArray("1\xff", 2)), QByteArray("1"));
    QCOMPARE(marks.decode(QByteArray("\0", 1)), QByteArray());
    QCOMPARE(marks.decode(QByteArray("z2", 2)), QByteArray("?2"));
    QCOMPARE(marks.decode(QByteArray("\xff", 1)), QByteArray());
    QCOMPARE(marks.decode(QByteArray("\xff"
                                     "3",
                                     2)),
             QByteArray("\xff"
                        "3"));
    QCOMPARE(marks.decode(QByteArray("\xff\x41", 2)), QByteArray("\xff\x41"));
    // Where the damaged characters are, a real "?" and a real 0xFF apart.
    QList<qsizetype> damaged;
    QCOMPARE(marks.decode(QByteArray("?\xff\0x\xff\xffz\xff\0\x01", 10), &damaged),
             QByteArray("??\xffz?"));
    QCOMPARE(damaged, QList<qsizetype>({1, 4}));
}

void TestSerialPort::parityRefusedByAPseudoTerminal() {
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

void TestSerialPort::hangUpClosesThePortOnce() {
    PtyPair pty;
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setPortOpen(true));
    QSignalSpy failed(&port, &SerialPort::failed);
    pty.closeMaster();
    QTRY_VERIFY(!port.PortOpen());
    QTest::qWait(200);
    QCOMPARE(failed.count(), 1);
    // Closing the master takes the pty's device node with it, as unplugging
    // an adapter does.
    const AppError e = failed.first().first().value<AppError>();
    QCOMPARE(e.number, Err::PortHungUp);
    QCOMPARE(e.message, QString("The device %1 was disconnected.").arg(pty.slavePath()));
}

void TestSerialPort::openRefusedWithItsCause_data() {
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<int>("number");
    // %1 the device, %2 the other process; empty: the port opens.
    QTest::addColumn<QString>("expected");
    const QString inUse = "The device %1 is in use by %2. Close it, or choose another port in "
                          "Property.";
    QTest::newRow("second port object, Qt's lock")
        << Situation::OtherPortObject << Err::PortAlreadyOpen << inUse;
    QTest::newRow("cat, no lock file") << Situation::Cat << Err::PortAlreadyOpen << inUse;
    QTest::newRow("UUCP lock of a live process")
        << Situation::LiveLock << Err::PortAlreadyOpen << inUse;
    QTest::newRow("UUCP lock of a process gone") << Situation::StaleLock << 0 << QString();
    QTest::newRow("no permission, a dialout device")
        << Situation::NoPermission << Err::PortNotAvailable
        << "No permission to open %1: only members of the dialout group may use it. Run sudo "
           "usermod -aG dialout $USER, then log in again.";
    QTest::newRow("no permission, the owner's alone")
        << Situation::OwnerOnly << Err::PortNotAvailable
        << "No permission to open %1: only its owner root may use it. Ask your administrator "
           "for access to it.";
    QTest::newRow("no such device")
        << Situation::NoDevice << Err::PortNotAvailable
        << "The device %1 does not exist. Plug in the adapter, or choose another port in "
           "Property.";
}

// Each reason a device cannot be had gets its own message, naming the
// program that has it.
void TestSerialPort::openRefusedWithItsCause() {
    QFETCH(Situation, situation);
    QFETCH(int, number);
    QFETCH(QString, expected);
    PtyPair pty;
    QVERIFY(pty.isValid());
    QString device = pty.slavePath();
    QString other;
    const QString lock = lockFileFor(device);
    const auto removeLock = qScopeGuard([&] { QFile::remove(lock); });
    SerialPort first;
    QProcess process;
    const auto endProcess = qScopeGuard([&] {
        process.kill();
        process.waitForFinished();
    });
    const auto writeLock = [&](qint64 pid) {
        QFile f(lock);
        return f.open(QIODevice::WriteOnly) &&
               f.write(QString("%1\n").arg(pid, 10).toLatin1()) == 11;
    };
    std::optional<Unprivileged> unprivileged;
    switch (situation) {
    case Situation::OtherPortObject:
        first.setPortResolver([&](int) { return device; });
        QVERIFY(!first.setPortOpen(true));
        other = QString("tst_serialport (PID %1)").arg(QCoreApplication::applicationPid());
        break;
    case Situation::Cat:
        process.start("cat", {device});
        QVERIFY(process.waitForStarted());
        // cat has the device once a byte comes through it.
        QVERIFY(pty.write("x"));
        QVERIFY(process.waitForReadyRead(5000));
        other = QString("cat (PID %1)").arg(process.processId());
        break;
    case Situation::LiveLock:
    case Situation::StaleLock:
        QVERIFY(!lock.isEmpty());
        process.start("sleep", {"30"});
        QVERIFY(process.waitForStarted());
        other = QString("sleep (PID %1)").arg(process.processId());
        QVERIFY(writeLock(process.processId()));
        if (situation == Situation::StaleLock) {
            process.kill();
            QVERIFY(process.waitForFinished());
        }
        break;
    case Situation::NoPermission:
    case Situation::OwnerOnly: {
        // As a USB adapter comes on Debian: root's, and its group's (or root's alone).
        const group* dialout = ::getgrnam("dialout");
        const QByteArray path = QFile::encodeName(device);
        if (::geteuid() != 0 || !dialout || ::chown(path.constData(), 0, dialout->gr_gid) != 0)
            QSKIP("needs root and a dialout group");
        QCOMPARE(::chmod(path.constData(), situation == Situation::OwnerOnly ? 0600 : 0660), 0);
        unprivileged.emplace();
        if (!unprivileged->ok())
            QSKIP("cannot run as the user nobody");
        break;
    }
    case Situation::NoDevice:
        device = "/dev/parvelo-no-such-tty";
        break;
    }
    SerialPort port;
    port.setPortResolver([&](int) { return device; });
    const Failure f = port.setPortOpen(true);
    unprivileged.reset();
    if (expected.isEmpty()) {
        QVERIFY2(!f, qPrintable(f ? f->message : QString()));
        QVERIFY(port.PortOpen());
        return;
    }
    QVERIFY(f);
    QCOMPARE(f->message, expected.replace("%1", device).replace("%2", other));
    QCOMPARE(f->number, number);
    QVERIFY(!port.PortOpen());
}

// Once the port is open, nobody else opens the device; closed, it is free.
void TestSerialPort::openPortShutsOthersOut() {
    PtyPair pty;
    const QByteArray device = QFile::encodeName(pty.slavePath());
    QCOMPARE(::chmod(device.constData(), 0666), 0);
    SerialPort port;
    port.setPortResolver([&](int) { return pty.slavePath(); });
    QVERIFY(!port.setPortOpen(true));
    const auto openAsOther = [&] {
        Unprivileged as;
        if (!as.ok())
            return -2;
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        return fd >= 0 ? 0 : err;
    };
    const int whileOpen = openAsOther();
    if (whileOpen == -2)
        QSKIP("cannot run as the user nobody");
    QCOMPARE(whileOpen, EBUSY);
    QVERIFY(!port.setPortOpen(false));
    QCOMPARE(openAsOther(), 0);
}

// A bridge such as socat holds its pty's master and keeps the slave open
// too: it provides the port and does not count as a user of it. A second
// reader of the same slave still does.
void TestSerialPort::socatPortOpensASecondReaderDoesNot() {
    if (QStandardPaths::findExecutable("socat").isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    const QString a = dir.filePath("ttyA"), b = dir.filePath("ttyB");
    QProcess socat;
    socat.start("socat", {"pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
    const auto endSocat = qScopeGuard([&] {
        socat.kill();
        socat.waitForFinished();
    });
    QTRY_VERIFY(QFileInfo::exists(a) && QFileInfo::exists(b));
    QProcess cat;
    const auto endCat = qScopeGuard([&] {
        cat.kill();
        cat.waitForFinished();
    });
    for (const bool withCat : {false, true}) {
        if (withCat) {
            cat.start("cat", {a});
            QVERIFY(cat.waitForStarted());
            QTRY_VERIFY(DeviceHolders(QCoreApplication::applicationPid()).first(a).has_value());
        }
        SerialPort port;
        port.setPortResolver([&](int) { return a; });
        const Failure f = port.setPortOpen(true);
        if (withCat) {
            QVERIFY(f);
            QCOMPARE(f->message, QString("The device %1 is in use by cat (PID %2). Close it, or "
                                         "choose another port in Property.")
                                     .arg(a)
                                     .arg(cat.processId()));
            break;
        }
        QVERIFY2(!f, qPrintable(f ? f->message : QString()));
        QFile other(b);
        QVERIFY(other.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QCOMPARE(other.write("12.5 g\r"), 7);
        QByteArray got;
        QTRY_VERIFY((got += port.Input(), got == "12.5 g\r"));
    }
}

void TestSerialPort::portOrder() {
    const QStringList got = PortDirectory::ordered(
        {"ttyACM0", "ttyUSB10", "ttyS1", "ttyUSB2", "rfcomm0", "ttyS0", "ttyUSB0"});
    QCOMPARE(got, QStringList(
                      {"ttyS0", "ttyS1", "ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "rfcomm0"}));
    // Whatever is present: no phantom UART (a ttyS the kernel made with no
    // UART behind it, type 0), no device twice, in the order above.
    QStringList names;
    for (const QString& path : PortDirectory::presentDevices()) {
        const QString name = QFileInfo(path).fileName();
        if (name.startsWith(QLatin1String("ttyS"))) {
            QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(name));
            QVERIFY2(type.open(QIODevice::ReadOnly) && type.readAll().trimmed() != "0",
                     qPrintable(path));
        }
        names << name;
    }
    QCOMPARE(names, PortDirectory::ordered(names));
    QCOMPARE(names.removeDuplicates(), 0);
    QCOMPARE(PortDirectory::deviceFor(0), QString());
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
