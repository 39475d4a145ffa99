// Damaged and hand-edited stored settings: the main window still opens,
// reports what the start-up rules report and nothing else, and once it has
// closed the settings file holds either what the user stored or a value the
// program took. Also a settings file that cannot be read or written at all.
#include "FakePlatform.h"
#include "ImmutableFolder.h"
#include "TmpfsMount.h"
#include "WarningAnswer.h"
#include "app/AppState.h"
#include "app/SettingsSchema.h"
#include "forms/dialogs/Property.h"
#include "forms/main/Form1.h"
#include "serial/PortDirectory.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <sys/statvfs.h>

namespace {
// The bad texts every key is tried with, as the bytes that stand in the file.
struct Kind {
    const char* name;
    QByteArray raw;
};
const QList<Kind>& kinds() {
    static const QList<Kind> list = {{"empty", ""},
                                     {"letters", "abc"},
                                     {"comma", "1,2"},
                                     {"percent", "%%%"},
                                     {"huge", "99999999999999999999"},
                                     {"minus1", "-1"},
                                     {"minus32769", "-32769"},
                                     {"long", QByteArray(100000, 'x')},
                                     {"badUtf8", "\xff\xfe\xc3"}};
    return list;
}

// Where start-up checks for a pending error and stops loading when there is
// one: after applying the settings text, or after applying the handshaking.
enum class Check { None, AtSettings, AtHandshaking };

// The keys start-up reads, and what the start-up rules make of each kind, in
// the order of kinds():
//   T  taken as it is
//   -  empty text: nothing stored, the port keeps its value
//   M  not a number: "Type mismatch"
//   O  a number out of range: "Overflow"
//   R  refused by the serial port, with the port's message
// A refusal becomes a warning box at the key's check, which is made only when
// the text that check belongs to is stored (the settings text for
// AtSettings, the handshaking value for AtHandshaking).
struct Key {
    const char* section;
    const char* name;
    const char* outcomes;
    Check check;
    const char* companion; // a good value, stored beside another key's bad one
};
// clang-format off
const Key keys[] = {
    //                            empty abc 1,2 %%% huge -1 -32769 long utf8
    {"Settings",   "OpenPathName", "TTTTTTTTT", Check::None,          "/opt/calc/"},
    {"Settings",   "SavePathName", "TTTTTTTTT", Check::None,          "/srv/logs"},
    {"Settings",   "ExeFileName",  "TTTTTTTTT", Check::None,          "/opt/calc/run"},
    {"Settings",   "InsertDate",   "TTTTTTTTT", Check::None,          "2"},
    {"Settings",   "InsertTime",   "MMMMOTOMM", Check::AtSettings,    "1"},
    {"Properties", "Settings",     "-RRRRRRRR", Check::AtSettings,    "2400,e,7,1"},
    {"Properties", "CommPort",     "-MMMOROMM", Check::AtHandshaking, "2"},
    {"Properties", "Handshaking",  "-MMMORRMM", Check::AtHandshaking, "1"},
};
// clang-format on
constexpr int OpenPathName = 0, SavePathName = 1, ExeFileName = 2, InsertDate = 3, InsertTime = 4,
              PropSettings = 5, CommPort = 6, Handshaking = 7;
constexpr int KeyCount = int(std::size(keys));

QString fullKey(const Key& k) {
    return QStringLiteral("%1/%2").arg(k.section, k.name);
}

// Stands for "no such key" in a snapshot of the store.
const QString Absent = QStringLiteral("<absent>");

// The warning box text the rules call for when `code` refuses `read`.
QString refusalText(int key, char code, const QString& read) {
    if (code == 'M')
        return QStringLiteral("Type mismatch");
    if (code == 'O')
        return QStringLiteral("Overflow");
    switch (key) {
    case PropSettings:
        return QStringLiteral("Invalid property value: \"%1\" is not a usable serial settings "
                              "string (speed,parity,data bits,stop bits).")
            .arg(read.left(80));
    case CommPort:
        return QStringLiteral("Invalid port number %1: use 1 to 16.").arg(read);
    case Handshaking:
        return QStringLiteral("Invalid property value: handshaking %1 (use 0 to 3).").arg(read);
    }
    return QStringLiteral("(no refusal for this key)");
}

// What a failed save says.
QString notSaved(const QString& path, const QString& reason, const QString& advice) {
    return QStringLiteral("The settings could not be saved to %1: %2. %3; the previous settings "
                          "are kept.")
        .arg(path, reason, advice);
}

// "Parvelo: ..." lines the program sends to the message log.
QStringList* g_parveloMessages = nullptr;
QtMessageHandler g_previousHandler = nullptr;
void catchParveloMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_parveloMessages && text.startsWith(QLatin1String("Parvelo: ")))
        g_parveloMessages->append(text);
    else if (g_previousHandler)
        g_previousHandler(type, context, text);
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

// What may stand in the file once the window has closed, key by key. "As
// read" is the text start-up read: the stored one, or the default when the
// key was absent.
//   [Settings] OpenPathName, SavePathName, ExeFileName   any text, as read
//   [Settings] InsertDate    any text, as read (start-up does not examine it)
//   [Settings] InsertTime    decimal -32768..32767: the number read when it
//                            was taken, otherwise 0 (never the refused text)
//   [Properties] *, [Ports] *  not written at exit: exactly as before
// After the communication dialog's OK, [Properties] holds what the port took:
//   Settings     speed,parity,data bits,stop bits (digits, e|o|n|m|s, 4-8, 1|1.5|2)
//   CommPort     1 to 16
//   Handshaking  0 to 3
bool isSmallDecimal(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^-?[0-9]{1,5}$"));
    return re.match(s).hasMatch();
}
bool isInt16Text(const QString& s) {
    bool ok = false;
    const int v = s.toInt(&ok);
    return isSmallDecimal(s) && ok && v >= -32768 && v <= 32767;
}
bool isSerialSettingsText(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^[0-9]+,[eonms],[4-8],(1|1\\.5|2)$"));
    return re.match(s).hasMatch();
}
bool isNumberIn(const QString& s, int lo, int hi) {
    bool ok = false;
    const int v = s.toInt(&ok);
    return isSmallDecimal(s) && ok && v >= lo && v <= hi;
}

} // namespace

class TestBadSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void badValueAtStart_data();
    void badValueAtStart();
    void propertyOkStoresWhatThePortTook_data();
    void propertyOkStoresWhatThePortTook();
    void badPortDevice_data();
    void badPortDevice();
    void storedFoldersReachTheFileDialogs_data();
    void storedFoldersReachTheFileDialogs();
    void malformedLines_data();
    void malformedLines();
    void malformedAndUnwritable_data();
    void malformedAndUnwritable();
    void unusableStore_data();
    void unusableStore();
    void fullDiskAtExit_data();
    void fullDiskAtExit();

private:
    using Entries = QList<std::pair<QString, QByteArray>>; // "Section/Key", raw value
    QString configDir() const { return m_dir.path() + "/Parvelo"; }
    QString confPath() const { return configDir() + "/Parvelo.conf"; }
    void writeConf(const Entries& entries);
    void writeConfBytes(const QByteArray& bytes);
    QMap<QString, QString> snapshot() const;
    QByteArray confBytes() const;
    std::unique_ptr<Form1> makeForm() {
        return std::make_unique<Form1>(std::make_unique<FakePlatform>());
    }
    QString defaultOf(int key) const;
    static void addMalformedRows(std::initializer_list<std::pair<const char*, QByteArray>> files);
    std::unique_ptr<Form1> loadMalformed(const QByteArray& file, bool whileRunning,
                                         qsizetype* boxes);
    void checkWrittenBack(const QMap<QString, QString>& before, const QStringList& keysBefore,
                          std::int16_t insertTime);

    QTemporaryDir m_dir;
    QStringList m_messages;
    int m_writes = 0;
};

// QSettings keeps the configuration folder it saw first: one folder serves
// the whole test.
void TestBadSettings::initTestCase() {
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
    g_parveloMessages = &m_messages;
    g_previousHandler = qInstallMessageHandler(catchParveloMessages);
}

void TestBadSettings::cleanupTestCase() {
    qInstallMessageHandler(g_previousHandler);
    g_parveloMessages = nullptr;
}

void TestBadSettings::init() {
    // Whatever the last case left in place of the file or its folder.
    QFile::remove(confPath()); // a file or a symbolic link
    QDir(confPath()).removeRecursively();
    if (QFileInfo(configDir()).isFile())
        QFile::remove(configDir());
    QFile::remove(m_dir.path() + "/elsewhere.conf");
    QVERIFY(QDir().mkpath(configDir()));
    // A write that failed stays pending in QSettings' cache of the file and
    // goes out with the next sync of any QSettings, a read included: let it go
    // out now, into a file the case replaces, not into the case's own file.
    {
        QSettings pending(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo");
        pending.sync();
    }
    QFile::remove(confPath());
    QVERIFY(!QFileInfo(confPath()).isSymLink() && !QFileInfo::exists(confPath()));
    AppState::instance() = AppState();
    m_messages.clear();
}

// Writes the file byte for byte, as an editor would.
void TestBadSettings::writeConf(const Entries& entries) {
    QByteArray ini;
    for (const char* section : {"Settings", "Properties", "Ports"}) {
        QByteArray lines;
        for (const auto& [key, raw] : entries)
            if (key.section('/', 0, 0) == QLatin1String(section))
                lines += key.section('/', 1).toUtf8() + '=' + raw + '\n';
        if (!lines.isEmpty())
            ini += QByteArray("[") + section + "]\n" + lines + '\n';
    }
    writeConfBytes(ini);
}

// Every version of the file gets a modification time of its own: QSettings
// rereads a file it has cached only when its size or time changed.
void TestBadSettings::writeConfBytes(const QByteArray& bytes) {
    QFile f(confPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
    QVERIFY(f.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)).addSecs(++m_writes),
                          QFileDevice::FileModificationTime));
}

// Every key the program reads, as its store reads it.
QMap<QString, QString> TestBadSettings::snapshot() const {
    QMap<QString, QString> values;
    const SettingsStore store;
    for (const Key& k : keys)
        values[fullKey(k)] = store.get(k.section, k.name, Absent);
    for (int n = 1; n <= 16; ++n)
        values[QStringLiteral("Ports/Com%1").arg(n)] =
            store.get("Ports", QStringLiteral("Com%1").arg(n), Absent);
    return values;
}

QByteArray TestBadSettings::confBytes() const {
    QFile f(confPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString TestBadSettings::defaultOf(int key) const {
    switch (key) {
    case OpenPathName:
        return SettingsSchema::defaultOpenPathName();
    case SavePathName:
        return SettingsSchema::defaultSavePathName();
    case ExeFileName:
        return SettingsSchema::defaultExeFileName();
    case InsertDate:
    case InsertTime:
        return QStringLiteral("0");
    }
    return QString(); // [Properties]: empty text
}

// The table of what may stand in the file, applied to the file as it is now.
void TestBadSettings::checkWrittenBack(const QMap<QString, QString>& before,
                                       const QStringList& keysBefore, std::int16_t insertTime) {
    const QMap<QString, QString> after = snapshot();
    for (int i = 0; i < KeyCount; ++i) {
        const QString key = fullKey(keys[i]);
        const QString wasRead = before[key] == Absent ? defaultOf(i) : before[key];
        if (i <= InsertDate) {
            QVERIFY2(after[key] == wasRead, qPrintable(key + " changed"));
        } else if (i == InsertTime) {
            QVERIFY2(isInt16Text(after[key]), qPrintable(key + " = " + after[key].left(40)));
            QCOMPARE(after[key], QString::number(insertTime));
        } else {
            QVERIFY2(after[key] == before[key], qPrintable(key + " changed"));
        }
    }
    for (int n = 1; n <= 16; ++n) {
        const QString key = QStringLiteral("Ports/Com%1").arg(n);
        QVERIFY2(after[key] == before[key], qPrintable(key + " changed"));
    }
    // Nothing but the five general settings is added.
    QStringList allowed = keysBefore;
    for (int i = OpenPathName; i <= InsertTime; ++i)
        allowed << fullKey(keys[i]);
    const QStringList now =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo").allKeys();
    for (const QString& key : now)
        QVERIFY2(allowed.contains(key), qPrintable("unexpected key " + key));
    QVERIFY(isUtf8(confBytes()));
}

void TestBadSettings::badValueAtStart_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("companions");
    for (int k = 0; k < KeyCount; ++k)
        for (int i = 0; i < kinds().size(); ++i)
            for (bool companions : {false, true})
                QTest::addRow("%s/%s %s %s", keys[k].section, keys[k].name, kinds()[i].name,
                              companions ? "among good values" : "alone")
                    << k << i << companions;
}

void TestBadSettings::badValueAtStart() {
    QFETCH(int, key);
    QFETCH(int, kind);
    QFETCH(bool, companions);
    const Key& bad = keys[key];
    const char code = bad.outcomes[kind];

    Entries entries;
    for (int k = 0; k < KeyCount; ++k)
        if (k == key)
            entries << std::pair{fullKey(bad), kinds()[kind].raw};
        else if (companions)
            entries << std::pair{fullKey(keys[k]), QByteArray(keys[k].companion)};
    writeConf(entries);
    const QMap<QString, QString> before = snapshot();
    const QStringList keysBefore =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo").allKeys();
    const QString read = before[fullKey(bad)];
    QVERIFY(read != Absent);

    auto form = makeForm();
    const QList<SeenBox> boxes = answerBoxes([&] { form->Form_Load(); });

    // Which check reports the refusal, if any; loading ends there.
    const bool refused = code == 'M' || code == 'O' || code == 'R';
    const bool checkMade = bad.check == Check::AtSettings ? (key == PropSettings || companions)
                                                          : bad.check == Check::AtHandshaking &&
                                                                (key == Handshaking || companions);
    const Check endedAt = refused && checkMade ? bad.check : Check::None;
    if (endedAt == Check::None) {
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(form->Text1->toPlainText(), Form1::usageGuide().replace("\r\n", "\n"));
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, refusalText(key, code, read));
        QCOMPARE(boxes[0].caption, QString("Parvelo"));
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].buttons, 1);
        QCOMPARE(form->Text1->toPlainText(), QString());
    }

    // What the state and the port hold now.
    const AppState& s = AppState::instance();
    const auto textOf = [&](int k) {
        return k == key ? read : companions ? QString(keys[k].companion) : defaultOf(k);
    };
    QCOMPARE(s.OpenPathName, textOf(OpenPathName));
    QCOMPARE(s.SavePathName, textOf(SavePathName));
    QCOMPARE(s.ExeFileName, textOf(ExeFileName));
    QCOMPARE(s.InsertDate, textOf(InsertDate));
    std::int16_t insertTime = companions ? 1 : 0;
    if (key == InsertTime) {
        bool ok = code == 'T';
        insertTime = ok ? read.toShort(&ok) : 0;
        QVERIFY(code != 'T' || ok);
    }
    QCOMPARE(s.InsertTime, insertTime);
    // The settings text is applied before its check; port number and
    // handshaking only when loading goes past it.
    const bool pastSettingsCheck = endedAt != Check::AtSettings;
    QCOMPARE(form->MSComm1.Settings(),
             QString(companions && key != PropSettings ? "2400,e,7,1" : "9600,n,8,1"));
    QCOMPARE(form->MSComm1.CommPort(),
             std::int16_t(companions && key != CommPort && pastSettingsCheck ? 2 : 1));
    QCOMPARE(form->MSComm1.Handshaking(),
             companions && key != Handshaking && pastSettingsCheck ? 1 : 0);

    form->show();
    form->close();
    QVERIFY(!form->isVisible());
    QCOMPARE(m_messages, QStringList()); // the save went through
    checkWrittenBack(before, keysBefore, insertTime);
}

void TestBadSettings::propertyOkStoresWhatThePortTook_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("kind");
    for (int k : {PropSettings, CommPort, Handshaking})
        for (int i = 0; i < kinds().size(); ++i)
            QTest::addRow("%s/%s %s", keys[k].section, keys[k].name, kinds()[i].name) << k << i;
}

// The communication dialog is the one writer of [Properties]: after a bad
// stored value, its OK stores what the port holds, never the refused text.
void TestBadSettings::propertyOkStoresWhatThePortTook() {
    QFETCH(int, key);
    QFETCH(int, kind);
    // Named devices spare the dialog sixteen scans of the machine's ports.
    Entries entries{{fullKey(keys[key]), kinds()[kind].raw}};
    for (int n = 1; n <= 16; ++n)
        entries << std::pair{QStringLiteral("Ports/Com%1").arg(n), QByteArray("/dev/ttyNone")};
    writeConf(entries);
    auto form = makeForm();
    answerBoxes([&] { form->Form_Load(); });

    QList<SeenBox> boxes;
    const int opened =
        whileModal<Property>([&] { boxes = answerBoxes([&] { form->mnuProperty_Click(); }); },
                             [](Property* dialog) { dialog->Command1->click(); });
    QCOMPARE(opened, 1);
    QCOMPARE(boxes.size(), 0);
    const SettingsStore store;
    const QString settings = store.get("Properties", "Settings");
    const QString port = store.get("Properties", "CommPort");
    const QString handshaking = store.get("Properties", "Handshaking");
    QVERIFY2(isSerialSettingsText(settings), qPrintable(settings.left(40)));
    QVERIFY2(isNumberIn(port, 1, 16), qPrintable(port.left(40)));
    QVERIFY2(isNumberIn(handshaking, 0, 3), qPrintable(handshaking.left(40)));
    // Nothing was taken from the bad value: the port's first configuration.
    QCOMPARE(settings, QString("9600,n,8,1"));
    QCOMPARE(port, QString("1"));
    QCOMPARE(handshaking, QString("0"));
    form->close();
    QCOMPARE(m_messages, QStringList());
}

void TestBadSettings::badPortDevice_data() {
    QTest::addColumn<int>("kind");
    for (int i = 0; i < kinds().size(); ++i)
        QTest::addRow("Ports/ComN %s", kinds()[i].name) << i;
}

// [Ports] is read when the port opens and by the communication dialog, never
// at start-up, and never written.
void TestBadSettings::badPortDevice() {
    QFETCH(int, kind);
    Entries entries;
    for (int n = 1; n <= 16; ++n)
        entries << std::pair{QStringLiteral("Ports/Com%1").arg(n), kinds()[kind].raw};
    writeConf(entries);
    const QMap<QString, QString> before = snapshot();
    const QStringList keysBefore =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo").allKeys();
    const QString read = before["Ports/Com1"];

    auto form = makeForm();
    QCOMPARE(answerBoxes([&] { form->Form_Load(); }).size(), 0);
    QCOMPARE(form->Text1->toPlainText(), Form1::usageGuide().replace("\r\n", "\n"));

    // The dialog names the device of every port number as stored.
    QStringList shown;
    const int opened = whileModal<Property>(
        [&] { form->mnuProperty_Click(); },
        [&](Property* dialog) {
            for (int i = 0; i < dialog->cboPort->count(); ++i)
                shown << dialog->cboPort->itemData(i, Qt::ToolTipRole).toString();
            dialog->Command2->click();
        });
    QCOMPARE(opened, 1);
    QCOMPARE(shown.size(), 16);
    for (int n = 1; n <= 16; ++n) {
        QString expected = read;
        if (read.isEmpty()) { // nothing named: the machine's n-th device
            expected = PortDirectory::deviceFor(n);
            if (expected.isEmpty())
                expected = QStringLiteral("no device");
        }
        QCOMPARE(shown[n - 1], expected);
    }

    // Read Start: the port cannot be opened; the run ends through the log.
    const QString machineDevice = PortDirectory::deviceFor(1);
    if (!read.isEmpty() || machineDevice.isEmpty()) {
        AppState::instance().TaskId = 7;
        QSignalSpy halted(form.get(), &Form1::runHalted);
        form->Command1_Click();
        QCOMPARE(halted.count(), 1);
        QVERIFY(!form->MSComm1.PortOpen());
        const QStringList log = form->Text1->toPlainText().split('\n');
        QVERIFY(log.size() > 2);
        QCOMPARE(log[0], QString("The reception error occurred."));
        if (read.isEmpty())
            QCOMPARE(log[1], QString("Com1 stands for no serial device on this machine."));
        else
            QCOMPARE(log[1], "The device " + (read.startsWith('/') ? read : "/dev/" + read) +
                                 " does not exist. Plug in the adapter, or choose another port "
                                 "in Property.");
        form->Command2_Click();
    }

    form->close();
    QCOMPARE(m_messages, QStringList());
    checkWrittenBack(before, keysBefore, 0);
}

void TestBadSettings::storedFoldersReachTheFileDialogs_data() {
    QTest::addColumn<int>("kind");
    for (int i = 0; i < kinds().size(); ++i)
        QTest::addRow("paths %s", kinds()[i].name) << i;
}

// Software Execution and Log Save open their dialogs at the stored folders;
// cancelled, they change nothing.
void TestBadSettings::storedFoldersReachTheFileDialogs() {
    QFETCH(int, kind);
    const QByteArray raw = kinds()[kind].raw;
    writeConf({{"Settings/OpenPathName", raw},
               {"Settings/SavePathName", raw},
               {"Settings/ExeFileName", raw}});
    const QMap<QString, QString> before = snapshot();
    const QStringList keysBefore =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo").allKeys();
    auto form = makeForm();
    QCOMPARE(answerBoxes([&] { form->Form_Load(); }).size(), 0);

    const auto cancel = [](QFileDialog* dialog) { dialog->reject(); };
    QCOMPARE(whileModal<QFileDialog>([&] { form->mnuAppSelect_Click(); }, cancel), 1);
    QCOMPARE(whileModal<QFileDialog>([&] { form->mnuFileSave_Click(); }, cancel), 1);
    const AppState& s = AppState::instance();
    QCOMPARE(s.OpenPathName, before["Settings/OpenPathName"]);
    QCOMPARE(s.SavePathName, before["Settings/SavePathName"]);
    QCOMPARE(s.ExeFileName, before["Settings/ExeFileName"]);
    QCOMPARE(s.TaskId, std::int16_t(0));

    form->close();
    QCOMPARE(m_messages, QStringList());
    checkWrittenBack(before, keysBefore, 0);
}

// Rows of a damaged settings file, each met at start or written over the
// file while Parvelo runs.
void TestBadSettings::addMalformedRows(
    std::initializer_list<std::pair<const char*, QByteArray>> files) {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("whileRunning");
    for (const auto& [name, file] : files)
        for (bool whileRunning : {false, true})
            QTest::addRow("%s, %s", name, whileRunning ? "edited while running" : "at start")
                << file << whileRunning;
}

// A window loaded from file (at start), or from a good file that file then
// replaces (while running); *boxes: the message boxes the load showed.
std::unique_ptr<Form1> TestBadSettings::loadMalformed(const QByteArray& file, bool whileRunning,
                                                      qsizetype* boxes) {
    writeConfBytes(whileRunning ? QByteArray("[Settings]\nInsertTime=2\n") : file);
    auto form = makeForm();
    *boxes = answerBoxes([&] { form->Form_Load(); }).size();
    if (whileRunning) // the store is read only at start; the next write meets this
        writeConfBytes(file);
    return form;
}

void TestBadSettings::malformedLines_data() {
    addMalformedRows({
        {"a line without '='", "[Settings]\nInsertTime=2\nabc\n"},
        {"bad bytes on a line of their own", "[Settings]\nInsertTime=2\n\xff\xfe\xc3\n"},
        {"a long line without '='",
         QByteArray("[Settings]\nInsertTime=2\n") + QByteArray(100000, 'x') + '\n'},
        {"a section header without ']'", "[Settings\nInsertTime=2\n"},
    });
}

// Lines the INI reader cannot use are skipped; the values around them still
// count, and saving over such a file is a save like any other: every value
// reaches the file and no failure is reported.
void TestBadSettings::malformedLines() {
    QFETCH(QByteArray, file);
    QFETCH(bool, whileRunning);
    qsizetype loadBoxes = -1;
    auto form = loadMalformed(file, whileRunning, &loadBoxes);
    QCOMPARE(loadBoxes, qsizetype(0));
    AppState& s = AppState::instance();
    QCOMPARE(s.InsertTime, std::int16_t(2));

    QList<SeenBox> boxes;
    const int opened =
        whileModal<Property>([&] { boxes = answerBoxes([&] { form->mnuProperty_Click(); }); },
                             [](Property* dialog) {
                                 dialog->cboSpeed->setEditText("1200");
                                 dialog->Command1->click();
                             });
    QCOMPARE(opened, 1);
    QCOMPARE(boxes.size(), 0);

    {
        const SettingsStore store;
        QCOMPARE(store.get("Properties", "Settings"), QString("1200,n,8,1"));
        QCOMPARE(store.get("Properties", "CommPort"), QString("1"));
        QCOMPARE(store.get("Properties", "Handshaking"), QString("0"));
    }

    // What the Option dialog and Software Execution would have changed.
    s.InsertDate = "1";
    s.InsertTime = 1;
    s.ExeFileName = "/opt/calc/new";
    if (whileRunning)
        writeConfBytes(file);
    form->show();
    form->close();
    QCOMPARE(m_messages, QStringList());
    const SettingsStore store;
    QCOMPARE(store.get("Settings", "OpenPathName"), SettingsSchema::defaultOpenPathName());
    QCOMPARE(store.get("Settings", "SavePathName"), SettingsSchema::defaultSavePathName());
    QCOMPARE(store.get("Settings", "ExeFileName"), QString("/opt/calc/new"));
    QCOMPARE(store.get("Settings", "InsertDate"), QString("1"));
    QCOMPARE(store.get("Settings", "InsertTime"), QString("1"));
    QVERIFY(isUtf8(confBytes()));
}

void TestBadSettings::malformedAndUnwritable_data() {
    addMalformedRows({
        {"a line without '='", "[Settings]\nInsertTime=2\nabc\n"},
        {"a section header without ']'", "[Settings\nInsertTime=2\n"},
    });
}

// A damaged file that cannot be written either: whatever the reader made of
// its lines, the failed writes are reported and the file stays as it was.
void TestBadSettings::malformedAndUnwritable() {
    QFETCH(QByteArray, file);
    QFETCH(bool, whileRunning);
    qsizetype loadBoxes = -1;
    auto form = loadMalformed(file, whileRunning, &loadBoxes);
    QCOMPARE(loadBoxes, qsizetype(0));
    AppState& s = AppState::instance();
    QCOMPARE(s.InsertTime, std::int16_t(2));
    const ImmutableFolder locked(configDir());
    if (!locked.isSet())
        QSKIP("this file system or user cannot make a folder immutable");

    // One write on its own fails too, even the first after the file changed,
    // which meets the format error before the folder.
    SettingsStore store;
    const Failure first = store.set("Settings", "InsertDate", "2");
    QVERIFY(first);
    QCOMPARE(first->number, Err::SettingsWriteFailed);

    const QString notWritten =
        notSaved(confPath(), "Operation not permitted", "Make that folder writable");
    QCOMPARE(first->message, notWritten);
    QList<SeenBox> boxes;
    QCOMPARE(whileModal<Property>([&] { boxes = answerBoxes([&] { form->mnuProperty_Click(); }); },
                                  [](Property* dialog) { dialog->Command1->click(); }),
             1);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, notWritten);

    s.InsertTime = 1;
    form->show();
    boxes = answerBoxes([&] { form->close(); });
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, notWritten);
    QCOMPARE(m_messages, QStringList({QStringLiteral("Parvelo: ") + notWritten}));
    QCOMPARE(confBytes(), file);
}

void TestBadSettings::unusableStore_data() {
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<bool>("viaExit");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("reason");
    const struct {
        const char* name;
        bool writable;
        const char* reason;
    } obstacles[] = {
        {"folder in place of the file", false, "Is a directory"},
        {"dangling link into a missing folder", false, "No such file or directory"},
        {"config folder is a file", false, "Not a directory"},
        {"dangling link into an existing folder", true, ""},
    };
    for (const auto& o : obstacles)
        for (bool viaExit : {false, true})
            QTest::addRow("%s, %s", o.name, viaExit ? "File > Exit" : "close box")
                << QString(o.name) << viaExit << o.writable << QString(o.reason);
}

// The file cannot be read, or not be written: start-up uses the defaults,
// and every failed save is reported, one line for each time the program saves.
void TestBadSettings::unusableStore() {
    QFETCH(QString, obstacle);
    QFETCH(bool, viaExit);
    QFETCH(bool, writable);
    QFETCH(QString, reason);
    const QString elsewhere = m_dir.path() + "/elsewhere.conf";
    if (obstacle == "folder in place of the file") {
        QVERIFY(QDir().mkpath(confPath() + "/sub"));
    } else if (obstacle == "dangling link into a missing folder") {
        QVERIFY(QFile::link(m_dir.path() + "/missing/Parvelo.conf", confPath()));
    } else if (obstacle == "config folder is a file") {
        QVERIFY(QDir(configDir()).removeRecursively());
        QFile f(configDir());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a folder\n");
    } else {
        QVERIFY(QFile::link(elsewhere, confPath()));
    }

    auto form = makeForm();
    QCOMPARE(answerBoxes([&] { form->Form_Load(); }).size(), 0);
    QCOMPARE(form->Text1->toPlainText(), Form1::usageGuide().replace("\r\n", "\n"));
    const AppState& s = AppState::instance();
    QCOMPARE(s.OpenPathName, SettingsSchema::defaultOpenPathName());
    QCOMPARE(s.SavePathName, SettingsSchema::defaultSavePathName());
    QCOMPARE(s.ExeFileName, SettingsSchema::defaultExeFileName());
    QCOMPARE(s.InsertDate, QString("0"));
    QCOMPARE(s.InsertTime, std::int16_t(0));
    QCOMPARE(form->MSComm1.Settings(), QString("9600,n,8,1"));
    QCOMPARE(form->MSComm1.CommPort(), std::int16_t(1));
    QCOMPARE(form->MSComm1.Handshaking(), 0);

    // The communication dialog's OK: the port keeps the values, a store that
    // cannot take them is reported and the dialog closes all the same.
    const QString notWritten = notSaved(confPath(), reason, "Check that file and its folder");
    QList<SeenBox> boxes;
    const int opened =
        whileModal<Property>([&] { boxes = answerBoxes([&] { form->mnuProperty_Click(); }); },
                             [](Property* dialog) { dialog->Command1->click(); });
    QCOMPARE(opened, 1);
    if (writable) {
        QCOMPARE(boxes.size(), 0);
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, notWritten);
        QCOMPARE(boxes[0].caption, QString("Parvelo"));
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
    }
    QCOMPARE(form->MSComm1.Settings(), QString("9600,n,8,1"));

    form->show();
    boxes = answerBoxes([&] {
        if (viaExit)
            form->mnuFileExit_Click(); // saves, then closes the window, which saves again
        else
            form->close();
    });
    QVERIFY(!form->isVisible());

    if (writable) {
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(m_messages, QStringList());
        QVERIFY(QFileInfo(confPath()).isSymLink());
        QSettings written(elsewhere, QSettings::IniFormat);
        QCOMPARE(written.value("Settings/ExeFileName").toString(),
                 SettingsSchema::defaultExeFileName());
        QCOMPARE(written.value("Settings/InsertTime").toString(), QString("0"));
        QCOMPARE(written.value("Properties/Settings").toString(), QString("9600,n,8,1"));
        return;
    }
    // One box before the program ends, however often it tried.
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, notWritten);
    const QString failed = QStringLiteral("Parvelo: ") + notWritten;
    QCOMPARE(m_messages, viaExit ? QStringList({failed, failed}) : QStringList({failed}));
    // The obstacle is left as it was.
    if (obstacle == "folder in place of the file") {
        QVERIFY(QFileInfo(confPath() + "/sub").isDir());
    } else if (obstacle == "dangling link into a missing folder") {
        QCOMPARE(QFileInfo(confPath()).symLinkTarget(), m_dir.path() + "/missing/Parvelo.conf");
        QVERIFY(!QFileInfo::exists(m_dir.path() + "/missing"));
    } else {
        QFile f(configDir());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("not a folder\n"));
    }
}

void TestBadSettings::fullDiskAtExit_data() {
    QTest::addColumn<int>("freeKiB");
    QTest::addColumn<int>("pathLength"); // of ExeFileName: a file of one or two 4 KiB pages
    QTest::addColumn<bool>("saved");
    QTest::newRow("0 KiB free") << 0 << 20 << false;
    QTest::newRow("4 KiB free") << 4 << 20 << true;
    QTest::newRow("8 KiB free") << 8 << 20 << true;
    QTest::newRow("4 KiB free, less than the file") << 4 << 5000 << false;
    QTest::newRow("8 KiB free, the file's size") << 8 << 5000 << true;
}

// The window closes on a disk with little or no room: the file is either
// the new one, whole, or the old one, byte for byte, and then the user is
// told why before the program ends.
void TestBadSettings::fullDiskAtExit() {
    QFETCH(int, freeKiB);
    QFETCH(int, pathLength);
    QFETCH(bool, saved);
    const TmpfsMount disk(configDir(), 64 * 1024);
    if (!disk.mounted())
        QSKIP(qPrintable("a full disk needs a tmpfs, and mounting one failed: " + disk.error()));
    SettingsStore store;
    QVERIFY(!store.set("Settings",
                       {{"ExeFileName", "/old/" + QString(pathLength, 'o')}, {"InsertTime", "1"}}));
    QVERIFY(!store.set("Ports", "Com1", "/dev/ttyUSB7"));
    const QByteArray before = confBytes();
    auto form = makeForm();
    QCOMPARE(answerBoxes([&] { form->Form_Load(); }).size(), 0);
    AppState& s = AppState::instance();
    s.ExeFileName = "/new/" + QString(pathLength, 'n');
    s.InsertTime = 2;

    struct statvfs fs {};
    QCOMPARE(::statvfs(QFile::encodeName(configDir()).constData(), &fs), 0);
    QFile filler(configDir() + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const qint64 fill = qint64(fs.f_bavail) * fs.f_frsize - freeKiB * 1024;
    QCOMPARE(filler.write(QByteArray(fill, 'f')), fill);
    filler.close();
    QCOMPARE(::statvfs(QFile::encodeName(configDir()).constData(), &fs), 0);
    QCOMPARE(qint64(fs.f_bavail) * fs.f_frsize, qint64(freeKiB) * 1024);

    form->show();
    const QList<SeenBox> boxes = answerBoxes([&] { form->close(); });
    QVERIFY(!form->isVisible());
    QCOMPARE(QDir(configDir()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"filler", "Parvelo.conf"}));
    if (saved) {
        QCOMPARE(boxes.size(), 0);
        const SettingsStore after;
        QCOMPARE(after.get("Settings", "ExeFileName"), s.ExeFileName);
        QCOMPARE(after.get("Settings", "InsertTime"), QString("2"));
        QCOMPARE(after.get("Ports", "Com1"), QString("/dev/ttyUSB7"));
    } else {
        QCOMPARE(confBytes(), before);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text,
                 notSaved(confPath(), "No space left on device", "Free some space on that disk"));
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
    }
}

QTEST_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
