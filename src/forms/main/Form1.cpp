#include "Form1.h"

#include "LogFile.h"
#include "StatusPanels.h"
#include "app/AppState.h"
#include "app/ManualFile.h"
#include "app/SaveAppSettings.h"
#include "app/SettingsSchema.h"
#include "capture/DataOptions.h"
#include "capture/Journal.h"
#include "capture/JournalCheck.h"
#include "capture/ReadingLoop.h"
#include "forms/about/frmAbout.h"
#include "forms/common/DialogHelpers.h"
#include "forms/common/FileFilter.h"
#include "forms/common/Fonts.h"
#include "forms/common/Twips.h"
#include "forms/common/WarningBox.h"
#include "forms/dialogs/Property.h"
#include "forms/dialogs/frmData.h"
#include "forms/dialogs/frmOption.h"
#include "platform/DesktopPlatform.h"
#include "platform/TargetReader.h"
#include "serial/PortDirectory.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

namespace {
constexpr int ClientWidth = 6795;
constexpr int ClientHeight = 3495;
constexpr int StatusHeight = 315;
} // namespace

Form1::Form1(std::unique_ptr<DesktopPlatform> platform, Clock clock, QWidget* parent)
    : QMainWindow(parent), m_platform(std::move(platform)), m_clock(std::move(clock)) {
    MSComm1.setPortResolver([this](int n) { return portDevice(n); });
    buildWindow();
    buildMenus();
    // Every menu-bar command in sight, none behind the overflow arrow.
    setMinimumWidth(menuBar()->sizeHint().width());
    m_journal = new Journal(Journal::defaultFolder(), this);
    // PARVELO_READ_BACK=off: nothing is read back, nor said (to compare the
    // speed, or for a target whose accessibility interface misbehaves).
    if (qEnvironmentVariable("PARVELO_READ_BACK") != QLatin1String("off"))
        m_reader = createTargetReader();
    m_loop = new ReadingLoop(MSComm1, *m_platform, AppState::instance(), *m_journal,
                             {[this](const QString& t) { insertIntoLog(t); },
                              [this] {
                                  m_history.clear();
                                  Text1->setPlainText(QString());
                              }},
                             m_clock, this, m_reader.get());
    connect(&m_loop->typing(), &ReadingDelivery::checked, this, &Form1::showChecked);
    connect(m_loop, &ReadingLoop::halted, this, &Form1::showHalted);
    connect(m_loop, &ReadingLoop::halted, this, &Form1::runHalted);
    connect(m_loop, &ReadingLoop::heldChanged, this, &Form1::showHeld);
    connect(m_loop, &ReadingLoop::stateChanged, this, &Form1::showHeld);
}

Form1::~Form1() = default;

QString Form1::portDevice(int number) const {
    const QString named = m_settings.portDevice(number);
    return named.isEmpty() ? PortDirectory::deviceFor(number) : named;
}

QString Form1::sessionWarning() const {
    return m_platform->sessionWarning();
}

QString Form1::usageGuide() {
    return QStringLiteral(
        "1.Please check a communication parameter.\r\n"
        "2.Please perform Excel etc. by [Softwaer execution] and click a numerical input "
        "position.\r\n"
        "3.Softwaer exe. should perform not shortcut but the executable file EXE.\r\n"
        "4.When performed [application execution], automatically will start [Read Start] and data "
        "will be inputted from RS232C.\r\n"
        "5.It is interrupted by [stop], Resumption should push [Reading start].\r\n"
        "6.Please read Parvelo Manual.pdf for details.\r\n");
}

void Form1::buildWindow() {
    setWindowTitle(QStringLiteral("Parvelo"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    auto* client = new QWidget(this);
    client->setFixedSize(tw(ClientWidth), tw(ClientHeight - StatusHeight));
    // Centred in whatever width the menu bar needs: with the desktop's fonts
    // its captions may be wider than the designed window.
    auto* centre = new QWidget(this);
    auto* row = new QHBoxLayout(centre);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(client, 0, Qt::AlignHCenter);
    setCentralWidget(centre);

    for (int y : {0, 20}) {
        auto* line = new QFrame(client);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setGeometry(0, tw(y), tw(6780), 2);
    }
    auto* label1 = new QLabel(QStringLiteral("Parvelo"), client);
    label1->setGeometry(twRect(180, 120, 1755, 375));
    label1->setFont(Fonts::serif(18, true, true));
    auto* label2 = new QLabel(frmAbout::versionText(), client);
    label2->setGeometry(twRect(2160, 240, 4455, 375));
    label2->setFont(Fonts::serif(12, true, true));

    Text1 = new QPlainTextEdit(client);
    Text1->setGeometry(twRect(60, 600, 4575, 2535));
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setFont(Fonts::gothicMono(9.75));

    Command1 = new QPushButton(QStringLiteral("Read Start"), client);
    Command1->setGeometry(twRect(4920, 600, 1695, 615));
    Command2 = new QPushButton(QStringLiteral("Stop"), client);
    Command2->setGeometry(twRect(4920, 1560, 1695, 615));
    // Asks the instrument now, as its print key would. A button, not a menu
    // item: the menu bar has no room left in this window.
    Command3 = new QPushButton(QStringLiteral("Request"), client);
    Command3->setGeometry(twRect(4920, 2520, 1695, 615));
    Command3->setShortcut(Qt::Key_F5);
    Command3->setToolTip(QStringLiteral("Sends the request of Data to the instrument now (F5)"));
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setFont(Fonts::sans(14.25));
        b->setEnabled(false);
    }
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, [this] { m_loop->request(); });
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Text1);

    sbrStatus = new StatusPanels(this);
    sbrStatus->setFixedHeight(tw(StatusHeight));
    sbrStatus->setFont(Fonts::gothic(9.75));
    sbrStatus->addTextPanel(QStringLiteral("Settings"), QStringLiteral("Setting"), 2500);
    sbrStatus->addTextPanel(QStringLiteral("Held"), QString(), 2500 + 1400);
    sbrStatus->panel(QStringLiteral("Held"))
        ->setStyleSheet(QStringLiteral("background: #ffd75e; color: black;"));
    sbrStatus->setPanelVisible(QStringLiteral("Held"), false);
    sbrStatus->addTextPanel(QStringLiteral("Checked"), QString(), 1400);
    sbrStatus->setPanelVisible(QStringLiteral("Checked"), false);
    sbrStatus->addDatePanel(1400);
    sbrStatus->addTimePanel(1500);
    sbrStatus->addTextPanel(QStringLiteral("ConnectTime"), QStringLiteral("Connect Time"), 1100);
    setStatusBar(sbrStatus);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::buildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("File(&F)"));
    mnuFile = file->menuAction();
    mnuFileSave = file->addAction(QStringLiteral("Log Save(&S)"), this, &Form1::mnuFileSave_Click);
    file->addSeparator();
    mnuFileExit = file->addAction(QStringLiteral("Exit(&X)"), this, &Form1::mnuFileExit_Click);
    mnuAppSelect =
        bar->addAction(QStringLiteral("Software Execution(&A)"), this, &Form1::mnuAppSelect_Click);
    mnuOption = bar->addAction(QStringLiteral("Option(&O)"), this, &Form1::mnuOption_Click);
    mnuProperty = bar->addAction(QStringLiteral("Property(&P)"), this, &Form1::mnuProperty_Click);
    mnuData = bar->addAction(QStringLiteral("Data(&D)"), this, &Form1::mnuData_Click);
    QMenu* help = bar->addMenu(QStringLiteral("Help(&H)"));
    mnuHelp = help->menuAction();
    mnuHelpManual =
        help->addAction(QStringLiteral("Manual(&M)"), this, &Form1::mnuHelpManual_Click);
    mnuHelpJournal =
        help->addAction(QStringLiteral("Journal Check(&J)"), this, &Form1::mnuHelpJournal_Click);
    mnuHelpAbout =
        help->addAction(QStringLiteral("About Parvelo(&A)"), this, &Form1::mnuHelpAbout_Click);
}

void Form1::Form_Load() {
    AppState& state = AppState::instance();
    std::optional<AppError> pending;
    const auto note = [&](const Failure& f) {
        if (f)
            pending = f;
    };

    // Centre by the outer size; before the first show the frame is not known
    // yet, so the size with the menu and status bars stands for it.
    adjustSize();
    DialogHelpers::centreOnScreen(this, frameGeometry().size());

    const StartupSettings stored = m_settings.load();
    state.OpenPathName = stored.general.OpenPathName;
    state.SavePathName = stored.general.SavePathName;
    state.ExeFileName = stored.general.ExeFileName;
    state.InsertDate = stored.general.InsertDate;
    m_data = stored.data;
    if (stored.insertTimeError)
        pending = stored.insertTimeError;
    else
        state.InsertTime = stored.general.InsertTime;

    // Each check is made only where a value is stored: a refusal before it
    // ends loading there, one after the last goes unreported.
    if (!stored.serialSettings.isEmpty()) {
        note(MSComm1.setSettings(stored.serialSettings));
        if (pending) {
            showWarning(nullptr, pending->message);
            return;
        }
    }
    if (stored.commPort.stored) {
        if (stored.commPort.value)
            note(MSComm1.setCommPort(*stored.commPort.value));
        else
            pending = stored.commPort.error;
    }
    if (stored.handshaking.stored) {
        if (stored.handshaking.value)
            note(MSComm1.setHandshaking(*stored.handshaking.value));
        else
            pending = stored.handshaking.error;
        if (pending) {
            showWarning(nullptr, pending->message);
            return;
        }
    }
    Text1->setPlainText(usageGuide());
    Text1->moveCursor(QTextCursor::Start);
}

void Form1::insertIntoLog(const QString& text) {
    // What the program inserts is not the user's edit: Ctrl+Z must not take
    // received lines out of the log, and a long run must not keep an undo
    // record of every line. Turning undo off clears its history.
    Text1->setUndoRedoEnabled(false);
    Text1->insertPlainText(text);
    Text1->setUndoRedoEnabled(true);
    moveOldLinesToHistory();
    // What was just inserted (an error, a held reading) is what the user
    // needs to see.
    Text1->ensureCursorVisible();
}

void Form1::moveOldLinesToHistory() {
    // The box keeps the newest lines; older ones leave in chunks, so the cost
    // of cutting is paid once per thousand lines, not on every line.
    if (Text1->blockCount() <= MaxShownLines + TrimChunk)
        return;
    QTextDocument* document = Text1->document();
    const QTextBlock firstKept = document->findBlockByNumber(TrimChunk);
    QTextCursor cut(document);
    cut.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    // The cut text has U+2029 between blocks; as lines of the log it is
    // every block followed by a line end.
    QString lines;
    for (QTextBlock b = document->begin(); b != firstKept; b = b.next())
        lines += b.text() + QLatin1Char('\n');
    m_history.append(lines);
    Text1->setUndoRedoEnabled(false);
    cut.removeSelectedText();
    Text1->setUndoRedoEnabled(true);
}

void Form1::setRunControls(bool reading) {
    for (QAction* a : {mnuFile, mnuAppSelect, mnuProperty, mnuData})
        a->setEnabled(!reading);
    Command3->setEnabled(reading && !m_data.Request.isEmpty());
    Command1->setEnabled(!reading);
    Command2->setEnabled(reading);
}

void Form1::Command1_Click() {
    // A stored Data value that cannot be used would type the wrong readings.
    AppError error;
    const std::optional<DataOptions> data = DataOptions::from(m_data, &error);
    if (!data) {
        showWarning(this, error.message);
        return;
    }
    m_loop->setDataOptions(*data);
    AppState::instance().StopFlag = false;
    setRunControls(true);
    sbrStatus->setPanelText(QStringLiteral("Settings"),
                            QStringLiteral("Setting\uFF1A") + MSComm1.Settings());
    StartConnectTimer();
    m_loop->start();
    // The title says "Reading" only once the port is open: what the
    // instrument sends from then on is read. A start that failed has
    // already shown the stop.
    if (m_loop->isRunning())
        setWindowTitle(QStringLiteral("Parvelo[Reading]"));
}

void Form1::Command2_Click() {
    setRunControls(false);
    setWindowTitle(QStringLiteral("Parvelo[Stop]"));
    StopConnectTimer();
    AppState::instance().StopFlag = true;
    m_loop->stop();
}

void Form1::showHalted() {
    // Nothing is read any more: the window must not look like a live run.
    setRunControls(false);
    setWindowTitle(QStringLiteral("Parvelo[Stop]"));
    StopConnectTimer();
}

void Form1::showChecked() {
    // In place of the date, once a reading of the run was read back.
    const int verified = m_loop->typing().verified();
    const int changed = m_loop->typing().changed();
    QLabel* panel = sbrStatus->panel(QStringLiteral("Checked"));
    panel->setText(changed ? QStringLiteral("Changed: %1").arg(changed)
                           : QStringLiteral("Verified: %1").arg(verified));
    panel->setToolTip(QStringLiteral("This run: %1 readings read back from the target as sent, "
                                     "%2 changed by it")
                          .arg(verified)
                          .arg(changed));
    panel->setStyleSheet(changed ? QStringLiteral("background: #ffd75e; color: black;")
                                 : QString());
    // Held readings come first: the counts wait while they are shown.
    const bool held = !sbrStatus->panel(QStringLiteral("Held"))->text().isEmpty();
    const bool shown = verified + changed > 0 && !held;
    sbrStatus->setPanelVisible(shown ? QStringLiteral("Date") : QStringLiteral("Checked"), false);
    sbrStatus->setPanelVisible(QStringLiteral("Date"), !shown && !held);
    sbrStatus->setPanelVisible(QStringLiteral("Checked"), shown);
}

void Form1::showHeld() {
    // Shown in place of the settings and the date: the user must see it
    // at a glance, and the date is on the desktop's clock anyway.
    QLabel* panel = sbrStatus->panel(QStringLiteral("Held"));
    const QFontMetrics metrics = panel->fontMetrics();
    const int room = panel->maximumWidth() - 8;
    const int count = m_loop->heldCount();
    QString text, full;
    if (m_loop->state() == RunState::WaitingForDevice) {
        // A run without its device is the first thing to see, held readings
        // second. A long path loses its middle, not the words around it.
        const QString shape = QStringLiteral("Waiting for %1 to come back") +
                              (count ? QStringLiteral("; held: %1").arg(count) : QString());
        const QString device = m_loop->awaitedDevice();
        full = shape.arg(device);
        text = shape.arg(metrics.elidedText(
            device, Qt::ElideMiddle, room - metrics.horizontalAdvance(shape.arg(QString()))));
    } else if (count) {
        full = QStringLiteral("Held: %1 \u2013 %2").arg(count).arg(m_loop->heldReason());
        text = metrics.elidedText(full, Qt::ElideRight, room);
    }
    panel->setText(text);
    panel->setToolTip(full);
    const bool shown = !text.isEmpty();
    // Hide before showing: for a moment all panels would not fit, and the
    // window would grow to make room and stay that wide.
    if (!shown)
        panel->setVisible(false);
    sbrStatus->setPanelVisible(QStringLiteral("Settings"), !shown);
    if (shown)
        sbrStatus->setPanelVisible(QStringLiteral("Checked"), false);
    showChecked();
    if (shown)
        panel->setVisible(true);
}

void Form1::StartConnectTimer() {
    ReadStartTime = m_clock();
    ReadStartTime.setTime(QTime(ReadStartTime.time().hour(), ReadStartTime.time().minute(),
                                ReadStartTime.time().second()));
    Timer1->start();
}

void Form1::StopConnectTimer() {
    Timer1->stop();
    sbrStatus->setPanelText(QStringLiteral("ConnectTime"), QString());
}

void Form1::Timer1_Timer() {
    const QDateTime now = m_clock();
    sbrStatus->setPanelText(QStringLiteral("ConnectTime"),
                            ConnectTime::format(ConnectTime::elapsedSeconds(ReadStartTime, now)));
}

void Form1::mnuAppSelect_Click() {
    AppState& state = AppState::instance();
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(toQtNameFilters(
        QStringLiteral("All Files(*.*)|*.*|\u5B9F\u884C\uFF8C\uFF67\uFF72\uFF99(*.exe)|*.exe")));
    dialog.setDirectory(state.OpenPathName);
    // The default target where it was long ago (Office's old folder): the
    // dialog proposes it where Windows finds it today. The setting changes
    // only with the user's choice.
    QString target = state.ExeFileName;
    if (target == SettingsSchema::defaultExeFileName() && !QFileInfo::exists(target)) {
        if (const QString found = m_platform->registeredProgram(target); !found.isEmpty())
            target = found;
    }
    const QFileInfo proposed(target);
    if (!proposed.path().isEmpty() && QFileInfo(proposed.path()).isDir())
        dialog.setDirectory(proposed.path());
    dialog.selectFile(proposed.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().first();
    state.OpenPathName = dialog.directory().absolutePath();
    state.ExeFileName = chosen;
    launchTarget(chosen);
}

bool Form1::launchTarget(const QString& path) {
    AppError error;
    const std::int16_t task = m_platform->launch(path, &error);
    if (task == 0)
        return false;
    AppState::instance().TaskId = task;
    Command1->setEnabled(true);
    Command1_Click();
    return true;
}

void Form1::mnuFileSave_Click() {
    AppState& state = AppState::instance();
    const std::optional<QString> path = askLogFileName(this, state.SavePathName);
    if (!path)
        return;
    state.SavePathName = QFileInfo(*path).absolutePath();
    setCursor(Qt::WaitCursor);
    QString text = Text1->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const Failure f = writeLogFile(*path, text, &m_history);
    unsetCursor();
    if (f)
        showWarning(this, f->message);
}

void Form1::mnuOption_Click() {
    AppState& state = AppState::instance();
    const bool opening = !m_option;
    frmOption* dialog = frmOption::showOrRaise({state.InsertDate, state.InsertTime}, m_option);
    if (opening)
        connect(dialog, &QDialog::accepted, this, [dialog] {
            AppState& s = AppState::instance();
            s.InsertDate = dialog->modes().InsertDate;
            s.InsertTime = dialog->modes().InsertTime;
        });
}

void Form1::mnuProperty_Click() {
    // Owned by the main window although the dialog names no owner: a modal
    // window that the window manager could put behind the window it blocks
    // would look like a hung program. Its OK offers the values to the port
    // itself: a refusal keeps the dialog open for a correction.
    Property dialog(
        MSComm1.choice(), [this](int n) { return portDevice(n); },
        [this](const SerialChoice& c) { return MSComm1.take(c); }, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The port holds the values now; a store that cannot be written only
    // loses them for the next run, so say so and go on.
    if (Failure f = m_settings.saveSerial(MSComm1.choice()))
        showWarning(this, f->message);
}

void Form1::mnuHelpManual_Click() {
    const QString path = ManualFile::find(QCoreApplication::applicationDirPath());
    QString problem;
    if (path.isEmpty())
        problem = QStringLiteral("The manual \"%1\" was not found beside Parvelo nor in "
                                 "/usr/share/doc/parvelo. Build it with tools/manual.sh, or "
                                 "reinstall the parvelo package.")
                      .arg(ManualFile::FileName);
    // The desktop's viewer opens it; without one (no xdg-open) Qt says no.
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        problem = QStringLiteral("The manual %1 could not be opened: no program to show PDF "
                                 "files was found. Install a PDF viewer, or open the file from "
                                 "your file manager.")
                      .arg(path);
    if (problem.isEmpty())
        return;
    // As with About: the run waits while the box is open.
    m_loop->setSuspended(true);
    showWarning(this, problem);
    m_loop->setSuspended(false);
}

void Form1::mnuHelpJournal_Click() {
    const QString path = m_journal->pathFor(m_clock().date());
    QString text;
    bool intact = false;
    if (!QFileInfo::exists(path)) {
        text = QStringLiteral("Nothing was journalled today yet: %1 does not exist.")
                   .arg(QDir::toNativeSeparators(path));
        intact = true;
    } else {
        m_journal->sync(); // what this run wrote, as it is on the disk
        const JournalCheck check = JournalCheck::of(path);
        intact = check.intact;
        text = check.summary();
        if (!intact)
            text += QStringLiteral("\n\nKeep this file as it is and tell whoever reviews your "
                                   "records; the records from that line on cannot be relied on.");
    }
    // The run waits while the box is open, as with About.
    m_loop->setSuspended(true);
    if (intact)
        QMessageBox(QMessageBox::Information, QStringLiteral("Parvelo"), text, QMessageBox::Ok,
                    this)
            .exec();
    else
        showWarning(this, text);
    m_loop->setSuspended(false);
}

void Form1::mnuData_Click() {
    frmData dialog(
        m_data,
        [](const DataSettings& d) -> Failure {
            AppError error;
            if (DataOptions::from(d, &error))
                return std::nullopt;
            return error;
        },
        m_loop->recentLines(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_data = dialog.settings();
    if (Failure f = m_settings.saveData(m_data))
        showWarning(this, f->message);
}

void Form1::mnuHelpAbout_Click() {
    // The run waits while the dialog is open; bytes stay in the port.
    m_loop->setSuspended(true);
    {
        frmAbout dialog(this);
        dialog.exec();
    }
    m_loop->setSuspended(false);
}

void Form1::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_loop->abandon();
    saveAtExit();
    if (m_option)
        m_option->close();
    qApp->quit();
}

void Form1::mnuFileExit_Click() {
    saveAtExit();
    close();
}

void Form1::saveAtExit() {
    Failure f = SaveAppSettings(AppState::instance(), m_store);
    if (!f)
        return;
    qWarning("Parvelo: %s", qPrintable(f->message));
    // The changes of this run are lost: say so before the window goes. Exit
    // saves twice; one box is enough.
    if (!m_exitFailureShown)
        showWarning(this, f->message);
    m_exitFailureShown = true;
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}
