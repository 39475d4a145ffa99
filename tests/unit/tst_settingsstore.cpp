// The settings store's file layout and defaults, the saving of the general
// settings, and the conversions applied to stored text.
#include "app/AppState.h"
#include "app/SaveAppSettings.h"
#include "app/SettingsSchema.h"
#include "base/NumberText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void layoutIsIniUnderXdgConfigHome();
    void absentKeysGiveDefaults();
    void schemaRoundTripReportsDamagedNumbers();
    void valuesRoundTripAsText();
    void handEditedListValueReadsAsText();
    void saveWritesTheFiveKeysAsText();
    void saveReportsUnwritableStore();
    void fileIsWhatQSettingsWrites_data();
    void fileIsWhatQSettingsWrites();
    void leftoverLockDoesNotDelay_data();
    void leftoverLockDoesNotDelay();
    void numberConversions();

private:
    QString confPath() const { return m_dir->path() + "/Parvelo/Parvelo.conf"; }
    std::unique_ptr<QTemporaryDir> m_dir;
};

// QSettings keeps the configuration folder it saw first, so one folder
// serves the whole test and each test starts from an empty file.
void TestSettingsStore::initTestCase() {
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
}

void TestSettingsStore::init() {
    QFile::remove(confPath());
    QDir(confPath()).removeRecursively();
}

void TestSettingsStore::layoutIsIniUnderXdgConfigHome() {
    SettingsStore store;
    QVERIFY(!store.set("Properties", "Settings", "9600,n,8,1"));
    QVERIFY(!store.set("Settings", "InsertTime", "2"));
    QFile f(confPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    QVERIFY2(ini.contains("[Properties]\nSettings=\"9600,n,8,1\""), ini.constData());
    QVERIFY2(ini.contains("[Settings]\nInsertTime=2"), ini.constData());
}

void TestSettingsStore::absentKeysGiveDefaults() {
    SettingsStore store;
    const StartupSettings s = SettingsSchema(store).load();
    QCOMPARE(s.general.OpenPathName, QString("/usr/bin/"));
    QCOMPARE(s.general.ExeFileName, QString("/usr/bin/localc"));
    QCOMPARE(s.general.SavePathName, QDir::homePath());
    QCOMPARE(s.general.InsertDate, QString("0"));
    QVERIFY(!s.insertTimeError);
    QVERIFY(s.serialSettings.isEmpty() && !s.commPort.stored && !s.handshaking.stored);
    QVERIFY(!QFile::exists(confPath())); // reading creates nothing
}

// What the schema writes reads back the same; damaged numbers come back
// with the errors start-up reports.
void TestSettingsStore::schemaRoundTripReportsDamagedNumbers() {
    SettingsStore store;
    SettingsSchema schema(store);
    QVERIFY(!schema.saveGeneral({"/a", "/b", "/c", " 2 ", -3}));
    QVERIFY(!schema.saveSerial({"4800,o,7,2", 12, 3}));
    QFile f(confPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    QVERIFY2(ini.contains("[Properties]\nCommPort=12\nHandshaking=3\nSettings=\"4800,o,7,2\"\n"),
             ini.constData());
    StartupSettings s = schema.load();
    QCOMPARE(s.general.SavePathName, QString("/b"));
    QCOMPARE(s.general.InsertDate, QString(" 2 ")); // text, not examined
    QCOMPARE(s.general.InsertTime, std::int16_t(-3));
    QCOMPARE(s.serialSettings, QString("4800,o,7,2"));
    QCOMPARE(*s.commPort.value, std::int16_t(12));
    QCOMPARE(*s.handshaking.value, 3);
    // Every [Data] key is written and read back.
    DataSettings d;
    d.Pick = R"(^\d+,(.*))";
    d.After = "Down";
    d.PerRow = "3";
    d.Keep = "^S S ";
    QVERIFY(!schema.saveData(d));
    const DataSettings back = schema.load().data;
    QCOMPARE(back.Pick + back.After + back.PerRow + back.Keep + back.LineEnd,
             d.Pick + d.After + d.PerRow + d.Keep + d.LineEnd);

    QVERIFY(!store.set("Settings", "InsertTime", "later"));
    QVERIFY(!store.set("Properties", "CommPort", "70000"));
    QVERIFY(!store.set("Properties", "Handshaking", "x"));
    s = schema.load();
    QCOMPARE(s.general.InsertTime, std::int16_t(0));
    QCOMPARE(s.insertTimeError->number, Err::TypeMismatch);
    QVERIFY(s.commPort.stored && !s.commPort.value);
    QCOMPARE(s.commPort.error.number, Err::Overflow);
    QVERIFY(s.handshaking.stored && !s.handshaking.value);
    QCOMPARE(s.handshaking.error.message, QString("Type mismatch"));
}

void TestSettingsStore::valuesRoundTripAsText() {
    SettingsStore store;
    const QString odd = QString::fromUtf8("C:\\Temp\\µ °C; a=b, \"q\" [x]");
    QVERIFY(!store.set("Settings", "SavePathName", odd));
    QVERIFY(!store.set("Settings", "InsertDate", "007"));
    SettingsStore again;
    QCOMPARE(again.get("Settings", "SavePathName"), odd);
    QCOMPARE(again.get("Settings", "InsertDate"), QString("007"));
}

void TestSettingsStore::handEditedListValueReadsAsText() {
    QDir().mkpath(m_dir->path() + "/Parvelo");
    QFile f(confPath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Properties]\nSettings=1200,e,7,1\n");
    f.close();
    QCOMPARE(SettingsStore().get("Properties", "Settings"), QString("1200,e,7,1"));
}

void TestSettingsStore::saveWritesTheFiveKeysAsText() {
    AppState s;
    s.OpenPathName = "/opt/calc";
    s.SavePathName = "/tmp/logs";
    s.ExeFileName = "/opt/calc/run";
    s.InsertDate = "2";
    s.InsertTime = 1;
    SettingsStore store;
    QVERIFY(!SaveAppSettings(s, store));
    QVERIFY(!SaveAppSettings(s, store)); // Exit writes twice: same result
    SettingsStore r;
    QCOMPARE(r.get("Settings", "OpenPathName"), s.OpenPathName);
    QCOMPARE(r.get("Settings", "SavePathName"), s.SavePathName);
    QCOMPARE(r.get("Settings", "ExeFileName"), s.ExeFileName);
    QCOMPARE(r.get("Settings", "InsertDate"), QString("2"));
    QCOMPARE(r.get("Settings", "InsertTime"), QString("1"));
}

void TestSettingsStore::saveReportsUnwritableStore() {
    // A folder where the file should be: nothing can be written there.
    QVERIFY(QDir().mkpath(confPath()));
    AppState s;
    SettingsStore store;
    const Failure f = SaveAppSettings(s, store);
    QVERIFY(f);
    QCOMPARE(f->number, Err::SettingsWriteFailed);
}

void TestSettingsStore::fileIsWhatQSettingsWrites_data() {
    QTest::addColumn<QByteArray>("file"); // before the write; empty: no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QStringList>("values"); // key, text, key, text...
    const QStringList odd = {"OpenPathName",
                             QString::fromUtf8("C:\\Temp\\µ °C; a=b, \"q\" [x] \U0001F600"),
                             "SavePathName",
                             " leading and trailing ",
                             "ExeFileName",
                             "@at\tab\x01"
                             "2\nnew line",
                             "InsertDate",
                             "",
                             "InsertTime",
                             "-3"};
    QTest::newRow("no file yet") << QByteArray() << "Settings" << odd;
    QTest::newRow("a new section among old ones")
        << QByteArray("[Ports]\nCom1=/dev/ttyUSB0\n\n[Settings]\nInsertTime=2\n") << "Properties"
        << QStringList{"Settings", "9600,n,8,1", "CommPort", "2"};
    QTest::newRow("hand-edited file")
        << QByteArray("k0=1\n[Zeta]\nb=1\n\n; a comment\n[Settings]\nA=1,2\nB=@ByteArray(x)\n"
                      "[General]\nz=1\n[%General]\ng=1\n[a\\b]\nc=d\n[Settings]\nC= 3 \n")
        << "Settings" << odd;
}

// What the store writes is byte for byte what QSettings would have written
// over the same file, so files stay readable both ways.
void TestSettingsStore::fileIsWhatQSettingsWrites() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QStringList, values);
    const auto put = [&](const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(file.isEmpty() || (f.open(QIODevice::WriteOnly) && f.write(file) == file.size()));
    };
    const QString byQt = m_dir->filePath(QStringLiteral("qt-%1.conf").arg(QTest::currentDataTag()));
    put(byQt);
    put(confPath());
    SettingsStore::Values entries;
    {
        QSettings qt(byQt, QSettings::IniFormat);
        for (qsizetype i = 0; i + 1 < values.size(); i += 2) {
            qt.setValue(section + '/' + values[i], values[i + 1]);
            entries.append({values[i], values[i + 1]});
        }
    }
    QVERIFY(!SettingsStore().set(section, entries));
    QFile ours(confPath()), theirs(byQt);
    QVERIFY(ours.open(QIODevice::ReadOnly) && theirs.open(QIODevice::ReadOnly));
    QCOMPARE(ours.readAll(), theirs.readAll());
}

void TestSettingsStore::leftoverLockDoesNotDelay_data() {
    QTest::addColumn<bool>("ownerRuns");
    QTest::newRow("its process was killed") << false;
    QTest::newRow("its process number now runs this program") << true;
}

// A lock file as QLockFile leaves it when its process is killed: loading and
// saving go on at once, even when the number it names is in use again.
void TestSettingsStore::leftoverLockDoesNotDelay() {
    QFETCH(bool, ownerRuns);
    qint64 pid = QCoreApplication::applicationPid();
    if (!ownerRuns) {
        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        pid = gone.processId();
        QVERIFY(gone.waitForFinished());
    }
    QVERIFY(QDir().mkpath(m_dir->path() + "/Parvelo"));
    QFile lock(confPath() + ".lock");
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + '\n' +
               QFileInfo("/proc/self/exe").symLinkTarget().section('/', -1).toUtf8() + '\n' +
               QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n' +
               QSysInfo::bootUniqueId() + '\n');
    lock.close();

    QElapsedTimer timer;
    timer.start();
    SettingsStore store;
    SettingsSchema schema(store);
    QCOMPARE(schema.load().general.InsertTime, std::int16_t(0));
    QVERIFY(!schema.saveGeneral({"/a", "/b", "/c", "1", 2}));
    QVERIFY(!schema.saveSerial({"4800,o,7,2", 3, 1}));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(schema.load().general.InsertTime, std::int16_t(2));
}

void TestSettingsStore::numberConversions() {
    AppError e;
    QCOMPARE(*NumberText::toInt16("2", &e), std::int16_t(2));
    QCOMPARE(*NumberText::toInt16(" 3 ", &e), std::int16_t(3));
    QCOMPARE(*NumberText::toInt16("2.5", &e), std::int16_t(2)); // ties to even
    QCOMPARE(*NumberText::toInt16("-32768", &e), std::int16_t(-32768));
    QVERIFY(!NumberText::toInt16("32768", &e));
    QCOMPARE(e.number, Err::Overflow);
    QVERIFY(!NumberText::toInt16("abc", &e));
    QCOMPARE(e.number, Err::TypeMismatch);
    QVERIFY(!NumberText::toInt16("", &e));
    QVERIFY(!NumberText::toInt16("inf", &e));
    QCOMPARE(*NumberText::toInt32("70000", &e), 70000);
    QVERIFY(!NumberText::toInt32("1e12", &e));
    QCOMPARE(*NumberText::equals("1", 1, &e), true);
    QCOMPARE(*NumberText::equals("1.0", 1, &e), true);
    QCOMPARE(*NumberText::equals("2", 1, &e), false);
    QVERIFY(!NumberText::equals("", 1, &e));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
