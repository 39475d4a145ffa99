#pragma once

// The main folder: the main window, its status panels and Log Save. A view of the
// capture engine; it may include every folder below forms/ and forms/common, dialogs/
// and about/.

#include "app/SettingsSchema.h"
#include "app/SettingsStore.h"
#include "base/AppError.h"
#include "capture/ConnectTime.h"
#include "capture/LogHistory.h"
#include "serial/SerialPort.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <memory>

class DesktopPlatform;
class TargetReader;
class Journal;
class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class ReadingLoop;
class StatusPanels;
class frmOption;

// The main window: the log, Read Start and Stop, the menus and the status
// bar. It owns the serial port and the reading run.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(std::unique_ptr<DesktopPlatform> platform, Clock clock = systemClock(),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // Centres the window and applies the stored settings; a value the serial
    // port refuses is shown in a warning box. Run once, before show().
    void Form_Load();

    void Command1_Click(); // Read Start
    void Command2_Click(); // Stop
    void mnuFileSave_Click();
    void mnuFileExit_Click();
    void mnuAppSelect_Click();
    // Starts the program at path as the target and starts reading; false
    // when it cannot be started.
    bool launchTarget(const QString& path);
    void mnuOption_Click();
    void mnuProperty_Click();
    void mnuData_Click();
    void mnuHelpManual_Click();
    void mnuHelpJournal_Click(); // checks today's journal file
    void mnuHelpAbout_Click();
    void Timer1_Timer();

    SerialPort MSComm1;
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr; // Request
    StatusPanels* sbrStatus = nullptr;
    QTimer* Timer1 = nullptr;
    QAction* mnuFile = nullptr;
    QAction* mnuFileSave = nullptr;
    QAction* mnuFileExit = nullptr;
    QAction* mnuAppSelect = nullptr;
    QAction* mnuOption = nullptr;
    QAction* mnuProperty = nullptr;
    QAction* mnuData = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuHelpManual = nullptr;
    QAction* mnuHelpJournal = nullptr;
    QAction* mnuHelpAbout = nullptr;

    ReadingLoop& readingLoop() { return *m_loop; }
    // Why typing cannot work in this desktop session, or empty.
    QString sessionWarning() const;
    static QString usageGuide();

    // The log box shows at least this many of the newest lines.
    static constexpr int MaxShownLines = 10000;
    static constexpr int TrimChunk = 1000;

signals:
    // A run ended through the error path (for observers such as tests).
    void runHalted();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    void StartConnectTimer();
    void StopConnectTimer();
    void insertIntoLog(const QString& text);
    void moveOldLinesToHistory();
    void setRunControls(bool reading);
    // The run ended on its own (an error): show it stopped.
    void showHalted();
    // The held readings and a device the run waits for in the status bar,
    // in place of the settings.
    void showHeld();
    // How many readings of this run were read back as sent, and changed.
    void showChecked();
    void Form_Unload();
    // Saves the general settings as the program ends; a failure is told once.
    void saveAtExit();
    // The device behind a port number: a [Ports] entry, else the machine's N-th.
    QString portDevice(int number) const;

    std::unique_ptr<DesktopPlatform> m_platform;
    std::unique_ptr<TargetReader> m_reader;
    Clock m_clock;
    SettingsStore m_store;
    // Lines of this run that no longer fit in the log box.
    LogHistory m_history;
    SettingsSchema m_settings{m_store};
    DataSettings m_data; // as stored; checked at each Read Start
    Journal* m_journal = nullptr;
    ReadingLoop* m_loop = nullptr;
    QDateTime ReadStartTime;
    QPointer<frmOption> m_option;
    bool m_unloaded = false;
    bool m_exitFailureShown = false;
};
