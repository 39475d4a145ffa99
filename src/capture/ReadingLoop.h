#pragma once

// The capture folder: the engine of a run. Bytes from the port become lines, lines
// are journalled and typed into the target or held. No widget lives here; it includes
// base/, app/ (AppState), serial/ and platform/.

#include "ConnectTime.h"
#include "DataOptions.h"
#include "HeldReadings.h"
#include "LineAssembler.h"
#include "ReadingDelivery.h"
#include "SpreadsheetEntry.h"
#include "base/AppError.h"
#include "serial/DeviceWatch.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class SerialPort;
class DesktopPlatform;
class Journal;
class TargetReader;
struct AppState;

// The run's one state. Reading: lines are typed as they come. Holding: the
// target is alive but cannot take keys; lines wait in order and the run
// goes on reading. WaitingForDevice: the device went away (an adapter
// unplugged); the port is closed until the same device is back, and held
// lines are still typed. Stopped: by Stop (lines still waiting are typed
// first at the next start). Halted: by an error; the port is closed.
enum class RunState { Stopped, Reading, Holding, WaitingForDevice, Halted };

// One reading run: bytes from the serial port are collected into lines;
// each completed line is composed with date and time, written to the
// journal, typed into the target and written into the log. Driven by the
// port's signals and timers, so a waiting run costs no CPU. Between two
// lines it returns to the event loop, so Stop, the timer and the dialogs
// are handled while a burst is being typed.
class ReadingLoop : public QObject {
    Q_OBJECT
public:
    struct Log {
        std::function<void(const QString&)> insert; // at the log's caret
        std::function<void()> clear;
    };

    // reader, if not null, reads back what the target did with the keys.
    ReadingLoop(SerialPort& port, DesktopPlatform& platform, AppState& state, Journal& journal,
                Log log, Clock clock = systemClock(), QObject* parent = nullptr,
                TargetReader* reader = nullptr);

    // Opens the port when it is closed, empties the log and starts reading;
    // readings held from before are typed first. A port that cannot be
    // opened ends the run through the error path.
    void start();
    // Takes the whole lines that have arrived, then ends the run and closes
    // the port. Readings not typed yet stay held for the next start.
    void stop();
    // Ends the run at once, typing nothing more (the program is closing).
    void abandon();
    // What to ask of the instrument and what of each line to type, from the
    // next start on.
    void setDataOptions(const DataOptions& options) { m_nextData = options; }
    // Sends the request now, as the instrument's print key would (during a
    // run, when there is a request).
    void request();
    // While suspended (a modal dialog is open) nothing is typed; lines are
    // still read and journalled.
    void setSuspended(bool suspended);

    RunState state() const { return m_state; }
    bool isRunning() const {
        return m_state == RunState::Reading || m_state == RunState::Holding ||
               m_state == RunState::WaitingForDevice;
    }
    // The device a run waits for (WaitingForDevice), as the user chose it.
    QString awaitedDevice() const { return m_device.node; }
    // Readings the log shows as held, and why they are.
    int heldCount() const { return m_held.markedCount(); }
    QString heldReason() const { return m_heldReason; }
    const QByteArray& pendingLine() const { return m_assembler.pending(); }
    // The last lines received (decoded, oldest first): of this run once it
    // has received one, else of the run before. What the Data dialog tries
    // its settings on.
    QStringList recentLines() const { return m_recent; }
    // Types the readings and reads them back: how many of this run the
    // target was seen to hold as sent, and how many it changed.
    const ReadingDelivery& typing() const { return m_typing; }
    static constexpr int RecentLines = 10;

    // How long the target may take to take the focus before its readings
    // count as held.
    static constexpr int GraceMs = 1000;
    // How long after Read Start a target that ends without a window is
    // noticed before any line arrives (a start that handed over to a
    // program already running elsewhere), and how often it is looked at.
    static constexpr int LaunchWatchMs = 40000;
    static constexpr int LaunchWatchEveryMs = 1000;
    // A device that is back may refuse to open for a moment (udev still
    // setting its permissions, a modem manager probing it): tried again this
    // often, this many times.
    static constexpr int ReopenRetryMs = 250;
    static constexpr int ReopenTries = 40;
    // How long the answer to Identify is waited for before the run goes on
    // without it.
    static constexpr int IdentifyWaitMs = 2000;

signals:
    void stateChanged(RunState state);
    // The number of held readings or the reason changed.
    void heldChanged();
    // The run has ended through the error path; the port is closed.
    void halted(const AppError& error);
    // The run has ended by stop(); the port is closed.
    void stopped();

private:
    void setState(RunState state);
    // PumpAll: every byte received (at Stop); else a portion, then the
    // rest after the events that wait.
    enum PumpMode { PumpPortion, PumpAll };
    void pump(PumpMode mode = PumpPortion);
    void takeLine();
    // A line without its end in LineAssembler::MaxLine bytes: journalled as
    // not typed, told once a run.
    void refuseLongLine();
    // A line that is more noise than text: journalled as received, logged
    // and journalled as not typed, and the likely cause told once a run.
    void refuseGarbled(Reading& reading, const QString& received, const QString& why);
    void deliver();
    void scheduleDelivery(int delayMs);
    // The target cannot take keys now: wait, within bounds, then hold.
    void waitForTarget(const AppError& why);
    void hold(const QString& reason);
    void markHeld();
    // failed: a reading that can never be typed, listed as not typed.
    // Every way a run ends: its timers, the port and the typing with it.
    void endRun(RunState state);
    void errorPath(const AppError& error, bool targetGone = false, Reading* failed = nullptr);
    // The device went away: wait for it instead of ending the run.
    // Journals the end of a wait for the device that did not come back.
    void endDeviceWait(const QString& by);
    void waitForDevice(const AppError& why);
    void reopenDevice();
    // Readings are held because the target cannot take keys (whether or not
    // the device is there).
    bool targetHeld() const;
    void notTyped(Reading& reading, const QString& why);
    void noteJournalFailure();
    void watchLaunch();
    void sendRequest();
    // Sends the request now and, when it repeats, from now on.
    void startRequests();
    // Asks the instrument who it is (Data: Identify); its answer, or that
    // none came, is journalled and logged before any reading.
    void identify();
    void identified(const QString& answer);
    void skipped(const Reading& reading, const QString& text, const QString& why);
    // Learns which program the confirmed target is, once a run, and makes
    // the keys of the readings about to be typed.
    void planKeys();

    SerialPort& m_port;
    DesktopPlatform& m_platform;
    AppState& m_app;
    Journal& m_journal;
    Log m_log;
    Clock m_clock;
    LineAssembler m_assembler;
    HeldReadings m_held;
    RunState m_state = RunState::Stopped;
    QString m_heldReason;
    QString m_portLabel; // in the journal
    bool m_suspended = false;
    bool m_holdFullReported = false;
    bool m_longLineReported = false;
    bool m_garbleReported = false;
    bool m_deliveryPosted = false;
    bool m_pumpPosted = false;
    bool m_oneByOne = false; // the next call types one reading only
    QTimer m_delivery;
    QTimer m_launchWatch;
    QTimer m_requestTimer;
    QTimer m_identifyWait;
    bool m_identifying = false;
    DataOptions m_data;     // of this run
    DataOptions m_nextData; // from the next start
    // Where in a row the next reading goes (PerRow); a row that a run left
    // unfinished is ended with Return before the next reading.
    int m_column = 0;
    bool m_rowLeftOpen = false;
    SpreadsheetEntry m_sheet;
    ReadingDelivery m_typing;
    QStringList m_recent;
    bool m_recentOfThisRun = false;
    bool m_requestBlockedReported = false;
    QElapsedTimer m_started; // the run
    QElapsedTimer m_waiting; // since the target first could not take keys
    QElapsedTimer m_lastTyped;
    DeviceIdentity m_device; // the run's, from its start
    DeviceWatch m_deviceWatch;
    QTimer m_reopenRetry;
    int m_reopenTries = 0;
    QDateTime m_wentAway;
    QElapsedTimer m_away;
};
