// The main window: start-up reading order and error rules, the states of a
// run, the connection-time panel, and saving at exit.
#include "FakePlatform.h"
#include "PtyPair.h"
#include "WarningAnswer.h"
#include "app/AppState.h"
#include "capture/ReadingLoop.h"
#include "forms/dialogs/Property.h"
#include "forms/dialogs/frmOption.h"
#include "forms/main/Form1.h"
#include "forms/main/StatusPanels.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>

namespace {
// Answers every warning box that comes up and remembers its text.
class WarningCatcher : public QObject {
public:
    WarningCatcher() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                icons << box->icon();
                captions << box->windowTitle();
                box->accept();
            }
        });
        m_timer.start(10);
    }
    QStringList texts, captions;
    QList<QMessageBox::Icon> icons;

private:
    QTimer m_timer;
};

struct FakeClock {
    QDateTime now{QDate(2026, 12, 7), QTime(10, 0, 0)};
};
} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void emptyStoreGivesGuideAndNoMessage();
    void refusedSettingsTextIsReportedAndStopsLoading();
    void refusedPortIsReportedOnlyWithHandshaking();
    void refusedPortWithoutHandshakingGoesUnreported();
    void insertTimeNotANumberIsReportedAtSettings();
    void storedValuesReachStateAndPort();
    void runStatesAndPanels();
    void connectTimeWrapsAndStops();
    void clockPanelShowsHoursAndMinutes();
    void exitSavesTheGeneralSettings();
    void longLogKeepsNewestLinesAndSavesEveryLine();
    void dialogsChangeNothingBeforeOk();
    void journalCheckOfToday();

private:
    void store(const QString& section, const QString& key, const QString& value) {
        SettingsStore().set(section, key, value);
    }
    std::unique_ptr<Form1> makeForm(FakePlatform** fake = nullptr) {
        auto platform = std::make_unique<FakePlatform>();
        if (fake)
            *fake = platform.get();
        return std::make_unique<Form1>(std::move(platform), [this] { return m_clock.now; });
    }
    // A window whose Com1 is the pty, reading into task 7.
    std::unique_ptr<Form1> startRun(PtyPair& pty, FakePlatform** fake) {
        store("Ports", "Com1", pty.slavePath());
        auto form = makeForm(fake);
        form->Form_Load();
        AppState::instance().TaskId = 7;
        form->Command1->setEnabled(true);
        // A test or a user that sends once the title says Reading must be read.
        QObject::connect(form.get(), &QWidget::windowTitleChanged, form.get(),
                         [this, f = form.get()](const QString& title) {
                             if (title == "Parvelo[Reading]")
                                 m_portOpenAtTitle = f->MSComm1.PortOpen();
                         });
        form->Command1_Click();
        return form;
    }
    QTemporaryDir m_dir;
    FakeClock m_clock;
    bool m_portOpenAtTitle = false;
};

void TestForm1::initTestCase() {
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    qputenv("PARVELO_READ_BACK", "off"); // the fake desktop has no program to read
    qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
}

void TestForm1::init() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Parvelo", "Parvelo");
    s.clear();
    s.sync();
    AppState::instance() = AppState();
    m_clock = FakeClock();
}

void TestForm1::emptyStoreGivesGuideAndNoMessage() {
    WarningCatcher catcher;
    auto form = makeForm();
    form->Form_Load();
    QTest::qWait(30);
    QVERIFY(catcher.texts.isEmpty());
    const QString guide = form->Text1->toPlainText();
    QCOMPARE(guide.count('\n'), 6);
    QVERIFY(guide.startsWith("1.Please check a communication parameter.\n"));
    QVERIFY(guide.endsWith("6.Please read Parvelo Manual.pdf for details.\n"));
    QCOMPARE(form->Text1->textCursor().position(), 0);
    QVERIFY(!form->Command1->isEnabled());
    QVERIFY(!form->Command2->isEnabled());
    QCOMPARE(form->windowTitle(), QString("Parvelo"));
    QCOMPARE(form->MSComm1.Settings(), QString("9600,n,8,1"));
    QCOMPARE(form->MSComm1.CommPort(), std::int16_t(1));
    const AppState& s = AppState::instance();
    QCOMPARE(s.OpenPathName, QString("/usr/bin/"));
    QCOMPARE(s.ExeFileName, QString("/usr/bin/localc"));
    QCOMPARE(s.InsertDate, QString("0"));
    QCOMPARE(s.InsertTime, std::int16_t(0));
    QCOMPARE(form->sbrStatus->panelText("Settings"), QString("Setting"));
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString("Connect Time"));
}

void TestForm1::refusedSettingsTextIsReportedAndStopsLoading() {
    store("Properties", "Settings", "9600,x,8,1");
    store("Properties", "CommPort", "3");
    store("Properties", "Handshaking", "1");
    WarningCatcher catcher;
    auto form = makeForm();
    form->Form_Load();
    QCOMPARE(catcher.texts.size(), 1);
    QVERIFY(catcher.texts.first().contains("9600,x,8,1"));
    QCOMPARE(catcher.captions.first(), QString("Parvelo"));
    QCOMPARE(catcher.icons.first(), QMessageBox::Warning);
    QCOMPARE(form->MSComm1.CommPort(), std::int16_t(1));
    QCOMPARE(form->MSComm1.Handshaking(), 0);
    QCOMPARE(form->Text1->toPlainText(), QString());
}

void TestForm1::refusedPortIsReportedOnlyWithHandshaking() {
    store("Properties", "Settings", "2400,o,7,2");
    store("Properties", "CommPort", "99");
    store("Properties", "Handshaking", "2");
    WarningCatcher catcher;
    auto form = makeForm();
    form->Form_Load();
    QCOMPARE(catcher.texts.size(), 1);
    QVERIFY(catcher.texts.first().contains("99"));
    QCOMPARE(form->MSComm1.Settings(), QString("2400,o,7,2"));
    QCOMPARE(form->MSComm1.Handshaking(), 2); // applied before the report
    QCOMPARE(form->Text1->toPlainText(), QString());
}

void TestForm1::refusedPortWithoutHandshakingGoesUnreported() {
    store("Properties", "CommPort", "abc");
    WarningCatcher catcher;
    auto form = makeForm();
    form->Form_Load();
    QTest::qWait(30);
    QVERIFY(catcher.texts.isEmpty());
    QCOMPARE(form->Text1->toPlainText().count('\n'), 6);
}

void TestForm1::insertTimeNotANumberIsReportedAtSettings() {
    store("Settings", "InsertTime", "later");
    store("Properties", "Settings", "9600,n,8,1");
    store("Properties", "CommPort", "2");
    WarningCatcher catcher;
    auto form = makeForm();
    form->Form_Load();
    QCOMPARE(catcher.texts, QStringList({"Type mismatch"}));
    QCOMPARE(AppState::instance().InsertTime, std::int16_t(0));
    QCOMPARE(form->MSComm1.CommPort(), std::int16_t(1));
    QCOMPARE(form->Text1->toPlainText(), QString());
}

void TestForm1::storedValuesReachStateAndPort() {
    store("Settings", "InsertDate", "2");
    store("Settings", "InsertTime", "1");
    store("Settings", "ExeFileName", "/opt/x/y");
    store("Properties", "Settings", "1200,E,5,1.5");
    store("Properties", "CommPort", "4");
    store("Properties", "Handshaking", "3");
    auto form = makeForm();
    form->Form_Load();
    QCOMPARE(AppState::instance().InsertDate, QString("2"));
    QCOMPARE(AppState::instance().InsertTime, std::int16_t(1));
    QCOMPARE(AppState::instance().ExeFileName, QString("/opt/x/y"));
    QCOMPARE(form->MSComm1.Settings(), QString("1200,e,5,1.5"));
    QCOMPARE(form->MSComm1.CommPort(), std::int16_t(4));
    QCOMPARE(form->MSComm1.Handshaking(), 3);
}

void TestForm1::runStatesAndPanels() {
    PtyPair pty;
    FakePlatform* fake = nullptr;
    auto form = startRun(pty, &fake);
    QCOMPARE(form->windowTitle(), QString("Parvelo[Reading]"));
    QVERIFY(m_portOpenAtTitle);
    QVERIFY(!form->Command1->isEnabled() && form->Command2->isEnabled());
    QVERIFY(!form->mnuFile->isEnabled() && !form->mnuAppSelect->isEnabled() &&
            !form->mnuProperty->isEnabled());
    QVERIFY(form->mnuOption->isEnabled() && form->mnuHelp->isEnabled());
    QCOMPARE(form->sbrStatus->panelText("Settings"), QString::fromUtf8("Setting：9600,n,8,1"));
    QVERIFY(form->MSComm1.PortOpen());
    QCOMPARE(form->Text1->toPlainText(), QString()); // cleared once the port opened

    QVERIFY(pty.write("12.5\r\n"));
    QTRY_COMPARE(fake->typed, QStringList({"12.5\r\n"}));
    QCOMPARE(form->Text1->toPlainText(), QString("12.5\n"));

    // Received lines are not an edit of the user's: Ctrl+Z cannot take them
    // out, while the user's own edits stay undoable.
    QVERIFY(!form->Text1->document()->isUndoAvailable());
    form->Text1->insertPlainText("note");
    QVERIFY(form->Text1->document()->isUndoAvailable());
    form->Text1->undo();
    QCOMPARE(form->Text1->toPlainText(), QString("12.5\n"));

    form->Command2_Click();
    QCOMPARE(form->windowTitle(), QString("Parvelo[Stop]"));
    QVERIFY(form->Command1->isEnabled() && !form->Command2->isEnabled());
    QVERIFY(form->mnuFile->isEnabled() && form->mnuAppSelect->isEnabled() &&
            form->mnuProperty->isEnabled());
    QVERIFY(!form->MSComm1.PortOpen());
    QVERIFY(AppState::instance().StopFlag);

    // A dialog of the target holds the readings: the status bar says so.
    form->show();
    const int width = form->width();
    fake->activateError = makeError(Err::TargetBusy, "the target shows the dialog \"Tip\"");
    form->Command1_Click();
    QVERIFY(pty.write("h\r"));
    QTRY_VERIFY(form->sbrStatus->panel("Held")->isVisibleTo(form.get()));
    QCOMPARE(form->sbrStatus->panel("Held")->toolTip(),
             QString::fromUtf8("Held: 1 – the target shows the dialog \"Tip\""));
    QVERIFY(!form->sbrStatus->panel("Settings")->isVisibleTo(form.get()));
    QTest::qWait(50);
    QCOMPARE(form->width(), width); // the layout is fixed

    // The target has gone: the run halts and the window shows it stopped.
    fake->activateError = makeError(Err::NoTargetWindow, "The target window has gone.");
    QSignalSpy halted(form.get(), &Form1::runHalted);
    QTRY_COMPARE(halted.count(), 1);
    QCOMPARE(form->windowTitle(), QString("Parvelo[Stop]"));
    QVERIFY(form->Command1->isEnabled() && !form->Command2->isEnabled());
    QVERIFY(form->mnuFile->isEnabled() && form->mnuProperty->isEnabled());
    QVERIFY(!form->MSComm1.PortOpen());
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(form->Text1->toPlainText().endsWith(
        "[not typed] h\nThe reception error occurred.\nThe target window has gone.\n"
        "1 readings were received but not typed.\n"));
    QVERIFY(form->sbrStatus->panel("Settings")->isVisibleTo(form.get()));
}

void TestForm1::connectTimeWrapsAndStops() {
    PtyPair pty;
    store("Ports", "Com1", pty.slavePath());
    auto form = makeForm();
    form->Form_Load();
    AppState::instance().TaskId = 7;
    form->Command1_Click();
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString("Connect Time"));
    m_clock.now = m_clock.now.addSecs(1);
    form->Timer1_Timer();
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString("00:00:01 "));
    m_clock.now = m_clock.now.addSecs(24 * 3600 + 4);
    form->Timer1_Timer();
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString("00:00:05 "));
    form->Command2_Click();
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString());
    QVERIFY(!form->Timer1->isActive());
    // A new run counts from zero again.
    form->Command1_Click();
    m_clock.now = m_clock.now.addSecs(1);
    form->Timer1_Timer();
    QCOMPARE(form->sbrStatus->panelText("ConnectTime"), QString("00:00:01 "));
    form->Command2_Click();
}

void TestForm1::clockPanelShowsHoursAndMinutes() {
    // Short formats with seconds lose them, and only them.
    QCOMPARE(StatusPanels::hoursAndMinutes(QLocale::c()), QString("HH:mm"));
    QCOMPARE(StatusPanels::hoursAndMinutes(QLocale(QLocale::German, QLocale::Germany)),
             QString("HH:mm"));
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(StatusPanels::hoursAndMinutes(us), us.timeFormat(QLocale::ShortFormat));
    QCOMPARE(QTime(13, 5, 59).toString(StatusPanels::hoursAndMinutes(QLocale::c())),
             QString("13:05"));
}

void TestForm1::exitSavesTheGeneralSettings() {
    store("Settings", "InsertDate", "2");
    auto form = makeForm();
    form->Form_Load();
    AppState::instance().InsertTime = 1;
    AppState::instance().ExeFileName = "/usr/bin/xterm";
    form->show();
    form->mnuFileExit_Click();
    SettingsStore s;
    QCOMPARE(s.get("Settings", "InsertDate"), QString("2"));
    QCOMPARE(s.get("Settings", "InsertTime"), QString("1"));
    QCOMPARE(s.get("Settings", "ExeFileName"), QString("/usr/bin/xterm"));
    QCOMPARE(s.get("Settings", "OpenPathName"), QString("/usr/bin/"));
    QVERIFY(!form->isVisible());
}

// A run longer than the box holds: the box keeps the newest lines, and Log
// Save still writes every line of the run, the user's edit included.
void TestForm1::longLogKeepsNewestLinesAndSavesEveryLine() {
    PtyPair pty;
    FakePlatform* fake = nullptr;
    auto form = startRun(pty, &fake);

    const int lines = Form1::MaxShownLines + 3 * Form1::TrimChunk;
    QByteArray sent, expected, line;
    for (int i = 0; i < lines; ++i) {
        line = QByteArray::number(i) + (i % 7 ? "" : " \xc2\xb5g");
        sent += line + "\r";
        expected += line + "\r\n";
    }
    for (qsizetype at = 0; at < sent.size(); at += 2048) {
        QVERIFY(pty.write(sent.mid(at, 2048)));
        QTest::qWait(1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(fake->text().size(), QString::fromUtf8(expected).size(), 20000);
    const int shown = form->Text1->blockCount() - 1; // the last block is empty
    QVERIFY2(shown >= Form1::MaxShownLines && shown <= Form1::MaxShownLines + Form1::TrimChunk,
             qPrintable(QString::number(shown)));
    QVERIFY(form->Text1->toPlainText().endsWith(QString::fromUtf8(line) + "\n"));
    form->Command2_Click();

    // The user appends a note to the shown part, then saves.
    form->Text1->moveCursor(QTextCursor::End);
    form->Text1->insertPlainText("checked");
    const QString path = m_dir.filePath("all.txt");
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        static_cast<QDialog*>(dialog)->accept(); // runs the dialog's own accept
    });
    form->mnuFileSave_Click();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), expected + "checked\r\n");
    // The spool of older lines leaves no file behind.
    QDirIterator files(m_dir.filePath("cache"), QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(!files.hasNext());
}

// The dialogs edit copies: Cancel leaves the window's values and the store
// alone; OK reaches AppState (stored at exit) or the port and [Properties].
void TestForm1::dialogsChangeNothingBeforeOk() {
    auto form = makeForm();
    form->Form_Load();
    const AppState& s = AppState::instance();
    const SettingsStore store;
    for (bool ok : {false, true}) {
        form->mnuOption_Click();
        frmOption* option = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* o = qobject_cast<frmOption*>(w); o && o->isVisible())
                option = o;
        QVERIFY(option);
        option->Option1->button(1)->click();
        option->Option2->button(2)->click();
        (ok ? option->Command1 : option->Command2)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(s.InsertDate, QString(ok ? "1" : "0"));
        QCOMPARE(s.InsertTime, std::int16_t(ok ? 2 : 0));
        QCOMPARE(store.get("Settings", "InsertDate"), QString());

        const int opened =
            whileModal<Property>([&] { form->mnuProperty_Click(); },
                                 [&](Property* dialog) {
                                     dialog->cboPort->setCurrentIndex(4);
                                     dialog->cboParity->setCurrentIndex(0);
                                     (ok ? dialog->Command1 : dialog->Command2)->click();
                                 });
        QCOMPARE(opened, 1);
        QCOMPARE(form->MSComm1.CommPort(), std::int16_t(ok ? 5 : 1));
        QCOMPARE(form->MSComm1.Settings(), QString(ok ? "9600,e,8,1" : "9600,n,8,1"));
        // Stored as the port reports it.
        QCOMPARE(store.get("Properties", "Settings"), QString(ok ? "9600,e,8,1" : ""));
        QCOMPARE(store.get("Properties", "CommPort"), QString(ok ? "5" : ""));
    }
}

// Help > Journal Check reads today's file by the window's clock: intact after
// a run, and the changed line once one byte of a reading is changed.
void TestForm1::journalCheckOfToday() {
    PtyPair pty;
    FakePlatform* fake = nullptr;
    auto form = startRun(pty, &fake);
    QVERIFY(pty.write("12.5\r\n7.25\r\n"));
    QTRY_COMPARE(fake->text(), QString("12.5\r\n7.25\r\n"));
    form->Command2_Click();
    const QList<SeenBox> intact = answerBoxes([&] { form->mnuHelpJournal->trigger(); });
    QCOMPARE(intact.size(), 1);
    QVERIFY2(intact[0].text.contains(": intact ("), qPrintable(intact[0].text));
    QCOMPARE(intact[0].icon, QMessageBox::Information);

    QFile day(m_dir.filePath("Parvelo/journal/2026-12-07.tsv"));
    QVERIFY(day.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = day.readAll().split('\n');
    day.close();
    const auto at = std::find_if(lines.begin(), lines.end(), [](const QByteArray& l) {
        return l.contains("\treceived\t7.25\t");
    });
    QVERIFY(at != lines.end());
    at->replace("\t7.25\t", "\t7.26\t");
    QVERIFY(day.open(QIODevice::WriteOnly | QIODevice::Truncate));
    day.write(lines.join('\n'));
    day.close();
    const QList<SeenBox> broken = answerBoxes([&] { form->mnuHelpJournal->trigger(); });
    QCOMPARE(broken.size(), 1);
    const QString line = QStringLiteral(": line %1 ").arg(at - lines.begin() + 1);
    QVERIFY2(broken[0].text.contains(line), qPrintable(broken[0].text));
    QCOMPARE(broken[0].icon, QMessageBox::Warning);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
