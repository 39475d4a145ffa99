// Log Save: the bytes written, replacing, failing targets and the dialog.
#include "ImmutableFolder.h"
#include "forms/main/LogFile.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Runs fill(dialog) on the Save As dialog once it is up.
void withSaveDialog(const std::function<void(QFileDialog*)>& fill) {
    QTimer::singleShot(0, [fill] {
        std::function<void()> poll;
        auto attempt = std::make_shared<std::function<void(int)>>();
        *attempt = [fill, attempt](int left) {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                fill(d);
            else if (left > 0)
                QTimer::singleShot(10, [attempt, left] { (*attempt)(left - 1); });
        };
        (*attempt)(300);
    });
}
} // namespace

class TestLogFile : public QObject {
    Q_OBJECT
private slots:
    void bytesOfTheLog_data();
    void bytesOfTheLog();
    void replacesAnExistingFile();
    void failingTargetsKeepTheOldFile_data();
    void failingTargetsKeepTheOldFile();
    void failedWriteHalfWayKeepsTheOldFile();
    void readOnlyFolderKeepsTheOldFile();
    void fullDiskIsReported();
    void dialogOffersTheFiltersAndNoName();
    void dialogReturnsTheChosenPath();
    void dialogCancelGivesNothing();

private:
    QTemporaryDir m_dir;
};

void TestLogFile::bytesOfTheLog_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("abc") << "abc" << QByteArray("abc\r\n");
    QTest::newRow("empty") << "" << QByteArray("\r\n");
    QTest::newRow("two lines") << "1.5\r\n2.5\r\n" << QByteArray("1.5\r\n2.5\r\n\r\n");
    QTest::newRow("non-ASCII as UTF-8") << QString::fromUtf8("23.5 °C")
                                        << QByteArray("23.5 \xc2\xb0"
                                                      "C\r\n");
}

void TestLogFile::bytesOfTheLog() {
    QFETCH(QString, log);
    const QString path = m_dir.filePath("bytes.txt");
    const Failure f = writeLogFile(path, log);
    QVERIFY2(!f, f ? qPrintable(f->message) : "");
    QTEST(fileBytes(path), "bytes");
}

void TestLogFile::replacesAnExistingFile() {
    const QString path = m_dir.filePath("replace.txt");
    QVERIFY(!writeLogFile(path, QString(500, 'x')));
    QVERIFY(!writeLogFile(path, "short"));
    QCOMPARE(fileBytes(path), QByteArray("short\r\n"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir.path()).entryList({"replace.txt*"}, QDir::Files).size(), 1);
}

void TestLogFile::failingTargetsKeepTheOldFile_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("missing folder") << "no/such/folder/log.txt";
    QTest::newRow("a folder as the name") << "folder";
    QTest::newRow("below a regular file") << "old.txt/log.txt";
}

void TestLogFile::failingTargetsKeepTheOldFile() {
    QFETCH(QString, target);
    QVERIFY(QDir(m_dir.path()).mkpath("folder"));
    const QString old = m_dir.filePath("old.txt");
    QVERIFY(!writeLogFile(old, "keep me"));
    const QString path = m_dir.filePath(target);
    const Failure f = writeLogFile(path, "new");
    QVERIFY(f);
    QCOMPARE(f->number, Err::PathFileAccess);
    QVERIFY2(f->message.contains(path), qPrintable(f->message));
    QCOMPARE(fileBytes(old), QByteArray("keep me\r\n"));
    QVERIFY(QFileInfo(m_dir.filePath("folder")).isDir());
}

void TestLogFile::failedWriteHalfWayKeepsTheOldFile() {
    // A file size limit makes the write fail after the first bytes, as a
    // full disk would; even root is held to it.
    const QString path = m_dir.filePath("halfway.txt");
    QVERIFY(!writeLogFile(path, "the old log"));
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Failure f = writeLogFile(path, QString(100000, 'y'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(f);
    QVERIFY2(f->message.contains(path), qPrintable(f->message));
    QCOMPARE(fileBytes(path), QByteArray("the old log\r\n"));
    QCOMPARE(QDir(m_dir.path()).entryList({"halfway.txt*"}, QDir::Files).size(), 1);
}

void TestLogFile::readOnlyFolderKeepsTheOldFile() {
    QVERIFY(QDir(m_dir.path()).mkpath("locked"));
    const QString old = m_dir.filePath("locked/log.txt");
    QVERIFY(!writeLogFile(old, "keep me"));
    ImmutableFolder locked(m_dir.filePath("locked"));
    if (!locked.isSet())
        QSKIP("this file system or user cannot make a folder read-only for root");
    for (const QString& name : {QStringLiteral("log.txt"), QStringLiteral("new.txt")}) {
        const QString path = m_dir.filePath("locked/" + name);
        const Failure f = writeLogFile(path, "new");
        QVERIFY2(f, qPrintable(name));
        QCOMPARE(f->number, Err::PathFileAccess);
        QVERIFY2(f->message.contains(path), qPrintable(f->message));
    }
    QCOMPARE(fileBytes(old), QByteArray("keep me\r\n"));
    QCOMPARE(QDir(m_dir.filePath("locked")).entryList(QDir::Files), QStringList{"log.txt"});
}

void TestLogFile::fullDiskIsReported() {
    // /dev/full takes the open and refuses every write with "no space".
    if (!QFileInfo::exists("/dev/full"))
        QSKIP("no /dev/full here");
    const Failure f = writeLogFile("/dev/full", QString(100000, 'z'));
    QVERIFY(f);
    QCOMPARE(f->number, Err::PathFileAccess);
    QVERIFY2(f->message.contains("/dev/full"), qPrintable(f->message));
    // Still the device, not replaced by a file.
    QVERIFY(!QFileInfo("/dev/full").isFile());
}

void TestLogFile::dialogOffersTheFiltersAndNoName() {
    QStringList shown;
    QString proposed = "<not seen>";
    QString folder;
    withSaveDialog([&](QFileDialog* d) {
        auto* types = d->findChild<QComboBox*>("fileTypeCombo");
        for (int i = 0; types && i < types->count(); ++i)
            shown << types->itemText(i);
        if (auto* name = d->findChild<QLineEdit*>("fileNameEdit"))
            proposed = name->text();
        folder = d->directory().absolutePath();
        d->reject();
    });
    const auto chosen = askLogFileName(nullptr, m_dir.path());
    QVERIFY(!chosen);
    QCOMPARE(shown, QStringList({"Text File(*.txt)", "All files(*.*)"}));
    QCOMPARE(proposed, QString());
    QCOMPARE(folder, QDir(m_dir.path()).absolutePath());
}

void TestLogFile::dialogReturnsTheChosenPath() {
    QVERIFY(QDir(m_dir.path()).mkpath("sub"));
    const QString sub = QDir(m_dir.filePath("sub")).absolutePath();
    withSaveDialog([&](QFileDialog* d) {
        d->findChild<QLineEdit*>("fileNameEdit")->setText(sub + "/chosen.log");
        static_cast<QDialog*>(d)->accept(); // runs the dialog's own accept
    });
    const auto chosen = askLogFileName(nullptr, m_dir.path());
    QVERIFY(chosen);
    QCOMPARE(*chosen, sub + "/chosen.log");
    // The caller remembers this folder as the next starting point.
    QCOMPARE(QFileInfo(*chosen).absolutePath(), sub);
}

void TestLogFile::dialogCancelGivesNothing() {
    const QStringList before = QDir(m_dir.path()).entryList(QDir::AllEntries);
    withSaveDialog([](QFileDialog* d) {
        d->findChild<QLineEdit*>("fileNameEdit")->setText("typed.txt");
        d->reject();
    });
    QVERIFY(!askLogFileName(nullptr, m_dir.path()));
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries), before);
}

QTEST_MAIN(TestLogFile)
#include "tst_logfile.moc"
