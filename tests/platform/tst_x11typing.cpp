// Typing into a real X client. Run through tests/e2e/xsession.sh: the
// target is an xterm whose shell copies every byte it receives, raw, into a
// file, which is then compared byte for byte with what was typed.
#include "platform/DesktopPlatform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>

namespace {
// Lines as the reading loop hands them over, and what a raw tty gets for
// them: the Return key sends CR, the arrow keys (the marks 0x1E and 0x1F)
// their escape sequences.
const QStringList kLines = {
    QStringLiteral("+%^~(){}[]\t11\t1.511\t100\r\n"),
    QStringLiteral("°µ±é\t日本語\t+12.5 g\r\n"),
    QStringLiteral("AbC xyz <>|@#$&*_=-'\"`;:,./?\\!\r\n"),
    QStringLiteral("1111\t0.0011\taaAA\r\n"),
    QStringLiteral("2\x1e"
                   "3\x1f"
                   "4\r\n"),
};

QByteArray expectedBytes(const QStringList& lines) {
    QByteArray out;
    for (QString l : lines)
        out += l.replace(QStringLiteral("\r\n"), QStringLiteral("\r"))
                   .replace(QChar(0x1e), QStringLiteral("\x1b[B"))
                   .replace(QChar(0x1f), QStringLiteral("\x1b[C"))
                   .toUtf8();
    return out;
}
} // namespace

class TestX11Typing : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<DesktopPlatform> platform_;
    int serial_ = 0;

    struct Target {
        QString script;
        QString output;
        QString pidFile;
    };

    // A script that starts the xterm: launch() takes no arguments.
    Target makeTarget() {
        Target t;
        const QString base = dir_.filePath(QStringLiteral("t%1").arg(++serial_));
        t.script = base + ".sh";
        t.output = base + ".out";
        t.pidFile = base + ".pid";
        QFile f(t.script);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("#!/bin/sh\n"
                               "echo $$ > '%1'\n"
                               "exec xterm -u8 -geometry 80x10 -e sh -c "
                               "\"stty raw -echo; exec cat > '%2'\"\n")
                    .arg(t.pidFile, t.output)
                    .toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return t;
    }

    std::int16_t launchAndActivate(const Target& t) {
        AppError error;
        const std::int16_t id = platform_->launch(t.script, &error);
        if (id <= 0) {
            qWarning() << error.message;
            return 0;
        }
        QElapsedTimer clock;
        clock.start();
        Failure f;
        // The window takes a moment to appear, and the tty to go raw.
        while (clock.elapsed() < 10000) {
            f = platform_->activate(id);
            if (!f && QFile::exists(t.output))
                break;
            QThread::msleep(50);
        }
        if (f) {
            qWarning() << f->message;
            return 0;
        }
        QThread::msleep(200); // let stty take effect before the first byte
        return id;
    }

    // activate() never waits; a window manager takes a moment to move the focus.
    Failure activateSoon(std::int16_t id, int timeoutMs = 3000) {
        QElapsedTimer clock;
        clock.start();
        Failure f = platform_->activate(id);
        while (f && f->number != Err::NoTargetWindow && clock.elapsed() < timeoutMs) {
            QThread::msleep(10);
            f = platform_->activate(id);
        }
        return f;
    }

    static QByteArray waitForBytes(const QString& path, qsizetype size, int timeoutMs = 5000) {
        QElapsedTimer clock;
        clock.start();
        QByteArray data;
        do {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                data = f.readAll();
            if (data.size() >= size)
                break;
            QThread::msleep(20);
        } while (clock.elapsed() < timeoutMs);
        QThread::msleep(100); // anything extra would show up now
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            data = f.readAll();
        return data;
    }

    static pid_t pidOf(const Target& t) {
        QFile f(t.pidFile);
        f.open(QIODevice::ReadOnly);
        return pid_t(f.readAll().trimmed().toInt());
    }

    static void setLayout(const QString& layout) {
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
    }

    static void killTarget(const Target& t) {
        if (const pid_t pid = pidOf(t); pid > 0)
            ::kill(pid, SIGKILL);
    }

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run me through tests/e2e/xsession.sh");
        QVERIFY(dir_.isValid());
        qputenv("LANG", "C.UTF-8");
        qputenv("LC_ALL", "C.UTF-8");
        platform_ = createDesktopPlatform();
        QVERIFY(platform_);
        QVERIFY2(platform_->sessionWarning().isEmpty(), qPrintable(platform_->sessionWarning()));
    }

    // As the reading loop does: a pause for a remap is waited out, then
    // the rest of the text is typed.
    Failure typeAll(const QString& text) {
        for (qsizetype done = 0;;) {
            int typed = 0;
            const Failure f = platform_->typeText(text.mid(done), &typed);
            done += typed;
            if (!f || (f->number != Err::TypingPaused && f->number != Err::TypingYielded))
                return f;
            if (f->number == Err::TypingPaused)
                QTest::qWait(20);
        }
    }

    void typesExactlyUnderLayout_data() {
        QTest::addColumn<QString>("layout");
        QTest::newRow("us") << "us";
        QTest::newRow("de") << "de";
        QTest::newRow("fr") << "fr";
    }
    void typesExactlyUnderLayout() {
        QFETCH(QString, layout);
        setLayout(layout);
        const Target t = makeTarget();
        const std::int16_t id = launchAndActivate(t);
        QVERIFY(id > 0);
        for (const QString& line : kLines) {
            const Failure a = platform_->activate(id);
            QVERIFY2(!a, a ? qPrintable(a->message) : "");
            const Failure f = typeAll(line);
            QVERIFY2(!f, f ? qPrintable(f->message) : "");
        }
        const QByteArray expected = expectedBytes(kLines);
        const QByteArray got = waitForBytes(t.output, expected.size());
        killTarget(t);
        QCOMPARE(got, expected);
        setLayout("us");
    }

    // Random text of every kind through the borrowed keys, as a noisy line
    // brings it: Latin-1 capitals and small letters, controls (never typed),
    // Greek, Cyrillic, CJK, characters beyond the 16-bit plane. Each remap
    // batch mixes keys that held one character with keys that held two.
    // PARVELO_RANDOM_TYPING_SECS sets how long (default 15 s).
    void randomTextThroughBorrowedKeys() {
        const int seconds = qEnvironmentVariableIntValue("PARVELO_RANDOM_TYPING_SECS");
        const Target t = makeTarget();
        const std::int16_t id = launchAndActivate(t);
        QVERIFY(id > 0);
        QRandomGenerator random(7);
        const auto pick = [&random]() -> char32_t {
            static const std::pair<char32_t, char32_t> ranges[] = {
                {0x21, 0x7e},     {0xa1, 0xff},     {0x80, 0x9f},
                {0x01, 0x1c},     {0x391, 0x3c9},   {0x410, 0x44f},
                {0x4e00, 0x4e80}, {0xff61, 0xff9f}, {0x1f600, 0x1f64f}};
            const auto& [lo, hi] = ranges[random.bounded(int(std::size(ranges)))];
            const char32_t c = lo + random.bounded(hi - lo + 1);
            // TAB, LF and CR are keys of their own, not noise.
            return c == '\t' || c == '\n' || c == '\r' ? char32_t(0x07) : c;
        };
        QByteArray expected;
        QElapsedTimer clock;
        clock.start();
        int lines = 0;
        while (clock.elapsed() < 1000 * (seconds > 0 ? seconds : 15)) {
            QString line;
            for (int n = 1 + random.bounded(30); n > 0; --n) {
                const char32_t c = pick();
                line += QString::fromUcs4(&c, 1);
                if (c >= 0x20 && !(c >= 0x7f && c <= 0x9f))
                    expected += QString::fromUcs4(&c, 1).toUtf8();
            }
            line += QStringLiteral("\r\n");
            expected += '\r';
            const Failure a = activateSoon(id);
            QVERIFY2(!a, a ? qPrintable(a->message) : "");
            const Failure f = typeAll(line);
            QVERIFY2(!f, f ? qPrintable(f->message) : "");
            ++lines;
        }
        const QByteArray got = waitForBytes(t.output, expected.size(), 30000);
        killTarget(t);
        platform_->endTyping();
        qInfo("%d random lines, %lld bytes", lines, qlonglong(expected.size()));
        QCOMPARE(got, expected);
    }

    // Held readings go out as one text. Letters have no twin keys, so each
    // doubled letter waits a moment, and a slice of keys ends after a few
    // such waits: the next slice must begin where that one ended.
    void manyRepeatedKeysInOneText() {
        const Target t = makeTarget();
        const std::int16_t id = launchAndActivate(t);
        QVERIFY(id > 0);
        QStringList lines;
        for (int i = 0; i < 12; ++i)
            lines << QStringLiteral("bookkeeper %1 committee\r\n").arg(i);
        const Failure f = typeAll(lines.join(QString()));
        QVERIFY2(!f, f ? qPrintable(f->message) : "");
        const QByteArray expected = expectedBytes(lines);
        const QByteArray got = waitForBytes(t.output, expected.size());
        killTarget(t);
        QCOMPARE(got, expected);
    }

    void heldShiftDoesNotChangeText() {
        const Target t = makeTarget();
        const std::int16_t id = launchAndActivate(t);
        QVERIFY(id > 0);
        Display* dpy = XOpenDisplay(nullptr);
        QVERIFY(dpy);
        const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
        const KeyCode control = XKeysymToKeycode(dpy, XK_Control_L);
        XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
        XTestFakeKeyEvent(dpy, control, True, CurrentTime);
        XSync(dpy, False);
        QVERIFY(!platform_->activate(id));
        const Failure f = platform_->typeText(QStringLiteral("abc 123 xyz\r\n"));
        XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
        XTestFakeKeyEvent(dpy, control, False, CurrentTime);
        XCloseDisplay(dpy);
        QVERIFY(!f);
        const QByteArray got = waitForBytes(t.output, 12);
        killTarget(t);
        QCOMPARE(got, QByteArray("abc 123 xyz\r"));
    }

    void endedTargetGetsErrorAndOthersNothing() {
        const Target first = makeTarget();
        const std::int16_t id = launchAndActivate(first);
        QVERIFY(id > 0);
        QVERIFY(!platform_->typeText(QStringLiteral("ok\r\n")));
        QCOMPARE(waitForBytes(first.output, 3), QByteArray("ok\r"));
        killTarget(first);

        // Another xterm now has the focus.
        const Target second = makeTarget();
        const std::int16_t other = launchAndActivate(second);
        QVERIFY(other > 0);

        QElapsedTimer clock;
        clock.start();
        Failure f = platform_->activate(id);
        // The killed window may linger a moment.
        while ((!f || f->number != Err::NoTargetWindow) && clock.elapsed() < 3000) {
            QThread::msleep(50);
            f = platform_->activate(id);
        }
        QVERIFY(f);
        QCOMPARE(f->number, Err::NoTargetWindow);
        const Failure typed = platform_->typeText(QStringLiteral("must not arrive\r\n"));
        QVERIFY(typed);
        QCOMPARE(typed->number, Err::TargetNotFocused);
        QCOMPARE(waitForBytes(second.output, 1, 500), QByteArray());
        killTarget(second);
    }

    void focusElsewhereFailsAndTypesNothing() {
        const Target a = makeTarget();
        const std::int16_t ida = launchAndActivate(a);
        QVERIFY(ida > 0);
        const Target b = makeTarget();
        const std::int16_t idb = launchAndActivate(b); // b takes the focus
        QVERIFY(idb > 0);
        // a was confirmed earlier, but the focus moved: typing must refuse.
        QVERIFY(!activateSoon(ida));
        QVERIFY(!activateSoon(idb));
        const Failure typed = platform_->typeText(QStringLiteral("b\r\n"));
        QVERIFY(!typed);
        QCOMPARE(waitForBytes(b.output, 2), QByteArray("b\r"));
        QCOMPARE(waitForBytes(a.output, 1, 300), QByteArray());
        killTarget(a);
        killTarget(b);
    }

    void unknownTaskFails() {
        const Failure f = platform_->activate(32000);
        QVERIFY(f);
        QCOMPARE(f->number, Err::NoTargetWindow);
    }

    void notStartable_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("directory") << "directory";
        QTest::newRow("text file") << "text";
        QTest::newRow("executable text without #!") << "exectext";
    }
    void notStartable() {
        QFETCH(QString, kind);
        QString path = dir_.filePath("nothing-here");
        if (kind == "directory") {
            path = dir_.path();
        } else if (kind != "missing") {
            path = dir_.filePath(kind + ".txt");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("just some text\n");
            f.close();
            if (kind == "exectext")
                f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        AppError error;
        QCOMPARE(platform_->launch(path, &error), std::int16_t(0));
        QCOMPARE(error.number, Err::FileNotStartable);
        QVERIFY(error.message.contains(path));
    }

    // Three hundred readings, one call each, as a streaming run types
    // them; how fast is the bench's business (bench/, xterm throughput).
    void manyLinesIntoXterm_data() {
        QTest::addColumn<QString>("pattern");
        // %1 is the line number; the first has many repeated keys (each
        // waits for the repeat gap), the second none.
        QTest::newRow("repeated digits") << "%1\t12.511\t+0.0011 g\t1000\tABCdef(){}[]~^%\r\n";
        QTest::newRow("no repeats") << "L%1\t12.5\t+0.03 g\t1024\tABCdef(){}[]~^%qwerty\r\n";
    }
    void manyLinesIntoXterm() {
        QFETCH(QString, pattern);
        const Target t = makeTarget();
        const std::int16_t id = launchAndActivate(t);
        QVERIFY(id > 0);
        QStringList lines;
        for (int i = 0; i < 300; ++i)
            lines << pattern.arg(i % 2 ? 97 : 35);
        for (const QString& line : lines) {
            QVERIFY(!platform_->activate(id));
            QVERIFY(!typeAll(line));
        }
        const QByteArray expected = expectedBytes(lines);
        const QByteArray got = waitForBytes(t.output, expected.size(), 20000);
        killTarget(t);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestX11Typing)
#include "tst_x11typing.moc"
