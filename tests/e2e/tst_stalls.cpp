// The window answers at every moment of a run: a 10 ms timer notes how late
// it fires while Parvelo waits for a program that never shows a window,
// types a burst, borrows keys and swallows 20 MB without a line end; a click
// on Stop in the middle of each must take effect at once. Runs the real
// main window and X11 backend in this process, through xsession.sh, with an
// xterm (cat > file) as the target and a pseudo-terminal as the port.
#include "PtyPair.h"
#include "app/AppState.h"
#include "app/SettingsStore.h"
#include "capture/ReadingLoop.h"
#include "forms/main/Form1.h"
#include "platform/DesktopPlatform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <limits>
#include <thread>

namespace {
constexpr qint64 StallBoundMs = 200;

// The longest time the event loop left a 10 ms timer waiting.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_worst = std::max(m_worst, m_since.restart() - TickMs); });
    }
    void restart() {
        m_worst = 0;
        m_since.start();
        m_timer.start(TickMs);
    }
    qint64 worst() const { return m_worst; }

private:
    static constexpr int TickMs = 10;
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_worst = 0;
};

qint64 residentKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestStalls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void launchThatNeverShowsAWindow();
    void burstOf5000Lines();
    void firstUseOfCharactersTheLayoutLacks();
    void twentyMegabytesWithoutLineEnd();

private:
    // A shell script that starts the target: launch() takes no arguments.
    QString script(const QString& name, const QString& command);
    QString xtermTarget() {
        return script("xterm", QStringLiteral("exec xterm -u8 -geometry 80x10 -e sh -c "
                                              "\"stty raw -echo; exec cat > '%1'\"")
                                   .arg(m_output));
    }
    // Read Start with the program at path as the target.
    void startWith(const QString& path);
    // Clicks Stop once the events queued now have been handled, and returns
    // how long after this call the run had stopped.
    qint64 clickStop();
    void writeInBackground(QByteArray bytes);
    void checkWorstStall(const char* what);

    QTemporaryDir m_dir;
    QString m_output;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<Form1> m_form;
    StallMeter m_meter;
    std::thread m_writer;
    pid_t m_targetShell = 0;
};

void TestStalls::initTestCase() {
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run me through tests/e2e/xsession.sh");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
    std::signal(SIGPIPE, SIG_IGN);
}

void TestStalls::init() {
    m_output = m_dir.filePath(QString("out-%1").arg(QTest::currentTestFunction()));
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    QVERIFY(!SettingsStore().set("Ports", "Com1", m_pty->slavePath()));
    m_form = std::make_unique<Form1>(createDesktopPlatform());
    QVERIFY2(m_form->sessionWarning().isEmpty(), qPrintable(m_form->sessionWarning()));
    m_form->Form_Load();
    m_form->show();
}

void TestStalls::cleanup() {
    if (m_writer.joinable()) {
        m_pty->closeMaster(); // a writer blocked on a full pty gives up
        m_writer.join();
    }
    m_form.reset();
    if (m_targetShell > 0)
        ::kill(m_targetShell, SIGKILL);
    m_targetShell = 0;
    m_pty.reset();
}

QString TestStalls::script(const QString& name, const QString& command) {
    const QString path = m_dir.filePath(name + ".sh");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("#!/bin/sh\necho $$ > '%1.pid'\n%2\n").arg(path, command).toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestStalls::startWith(const QString& path) {
    AppState& state = AppState::instance();
    state.ExeFileName = path;
    // Software Execution without its file dialog.
    QVERIFY(m_form->launchTarget(path));
    QTRY_VERIFY(QFile::exists(path + ".pid"));
    m_targetShell = readFile(path + ".pid").trimmed().toInt();
    QCOMPARE(m_form->windowTitle(), QString("Parvelo[Reading]"));
    m_meter.restart();
}

qint64 TestStalls::clickStop() {
    QElapsedTimer clock;
    clock.start();
    qint64 took = -1;
    QTimer::singleShot(0, m_form.get(), [&] {
        QTest::mouseClick(m_form->Command2, Qt::LeftButton);
        took = clock.elapsed();
    });
    if (!QTest::qWaitFor([&] { return took >= 0; }, 5000) ||
        m_form->readingLoop().state() != RunState::Stopped)
        return std::numeric_limits<qint64>::max();
    return took;
}

void TestStalls::writeInBackground(QByteArray bytes) {
    PtyPair* pty = m_pty.get();
    m_writer = std::thread([pty, bytes] { pty->write(bytes); });
}

void TestStalls::checkWorstStall(const char* what) {
    qInfo("%s: longest stall %lld ms", what, qlonglong(m_meter.worst()));
    QVERIFY2(m_meter.worst() < StallBoundMs, what);
}

void TestStalls::launchThatNeverShowsAWindow() {
    startWith(script("nowindow", "exec sleep 60"));
    QVERIFY(m_pty->write("1.5\r2.5\r"));
    QTRY_COMPARE(m_form->readingLoop().heldCount(), 2);
    QTest::qWait(1500); // well inside the 30 s a program may take to start
    checkWorstStall("waiting for a window");
    const qint64 stop = clickStop();
    qInfo("Stop took %lld ms", qlonglong(stop));
    QVERIFY(stop < StallBoundMs);
}

void TestStalls::burstOf5000Lines() {
    startWith(xtermTarget());
    QByteArray burst;
    for (int i = 0; i < 5000; ++i) // now and then a line near the bound
        burst += "+" + QByteArray::number(i * 0.25, 'f', 3) +
                 (i % 500 == 1 ? QByteArray(4000, 'w') : QByteArray(" g")) + "\r\n";
    writeInBackground(burst);
    QTest::qWait(1500);
    const qint64 stop = clickStop();
    checkWorstStall("typing a burst");
    qInfo("Stop took %lld ms", qlonglong(stop));
    QVERIFY(stop < StallBoundMs);
    // Stop ended the typing in the middle: the readings left are held.
    QVERIFY(m_form->readingLoop().heldCount() > 0);
}

void TestStalls::firstUseOfCharactersTheLayoutLacks() {
    startWith(xtermTarget());
    const QStringList lines = {"12.5 µg", "20 °C ±0.1", "日本語 ℃", "Ω 3.3 kΩ", "é à ü",
                               "₂ ₃ ½",   "☃ ✓",        "∑ ∫",      "終 了"};
    QByteArray sent, expected;
    for (const QString& line : lines) {
        sent += line.toUtf8() + "\r";
        expected += line.toUtf8() + "\r";
    }
    QVERIFY(m_pty->write(sent));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(m_output), expected, 20000);
    checkWorstStall("borrowing keys");
    // Stop while the next remap waits for the keyboard to be quiet.
    QVERIFY(m_pty->write("ß þ ð\r"));
    QTest::qWait(60);
    const qint64 stop = clickStop();
    qInfo("Stop took %lld ms", qlonglong(stop));
    QVERIFY(stop < StallBoundMs);
}

void TestStalls::twentyMegabytesWithoutLineEnd() {
    startWith(xtermTarget());
    const QByteArray noEnd(20 * 1024 * 1024, 'x');
    writeInBackground(noEnd + "\rafter 1\r\nafter 2\r\n");
    QTest::qWait(300);
    // Stop in the middle, and start again: the rest still has no line end.
    const qint64 stop = clickStop();
    qInfo("Stop took %lld ms", qlonglong(stop));
    QVERIFY(stop < StallBoundMs);
    m_form->Command1_Click();
    QTRY_COMPARE_WITH_TIMEOUT(readFile(m_output), QByteArray("after 1\rafter 2\r"), 60000);
    checkWorstStall("20 MB without a line end");
    QTest::qWait(300);
    QCOMPARE(readFile(m_output), QByteArray("after 1\rafter 2\r"));
    const QString log = m_form->Text1->toPlainText();
    QCOMPARE(log.count("No line end in 4096 bytes"), 1);
    QVERIFY(!log.contains("xxxx"));
    const qint64 rss = residentKiB();
    qInfo("RSS after 20 MB: %lld KiB", qlonglong(rss));
    QVERIFY(rss > 0 && rss < 80 * 1024);
}

QTEST_MAIN(TestStalls)
#include "tst_stalls.moc"
