#pragma once

#include "ConnectTime.h"
#include "LineAssembler.h"
#include "app/AppError.h"

#include <QObject>
#include <functional>

class SerialPort;
class DesktopPlatform;
struct AppState;

// One reading run: bytes from the serial port are collected into lines; each
// completed line is composed with date and time, typed into the target and
// written into the log. Driven by the port's signals, so a waiting run costs
// no CPU. Between two lines it returns to the event loop, so Stop, the timer
// and the dialogs are handled while a burst is being typed.
class ReadingLoop : public QObject {
    Q_OBJECT
public:
    struct Log {
        std::function<void(const QString&)> insert; // at the log's caret
        std::function<void()> clear;
    };

    ReadingLoop(SerialPort& port, DesktopPlatform& platform, AppState& state, Log log,
                Clock clock = systemClock(), QObject* parent = nullptr);

    // Opens the port when it is closed, empties the log and starts reading.
    // A port that cannot be opened ends the run through the error path.
    void start();
    // Handles at most one more waiting byte (a CR still completes its line),
    // then ends the run and closes the port.
    void stop();
    // Ends the run at once, typing nothing more (the program is closing).
    void abandon();
    // While suspended (a modal dialog is open) bytes wait in the port.
    void setSuspended(bool suspended);

    bool isRunning() const { return m_running; }
    const QByteArray& pendingLine() const { return m_assembler.pending(); }

signals:
    // The run has ended through the error path; the port is closed.
    void halted(const AppError& error);
    // The run has ended by stop(); the port is closed.
    void stopped();

private:
    void pump();
    void schedulePump();
    // Returns false when the run ended while handling the byte.
    bool handleByte(char byte, bool* lineCompleted);
    bool completeLine();
    void errorPath(const AppError& error);

    SerialPort& m_port;
    DesktopPlatform& m_platform;
    AppState& m_state;
    Log m_log;
    Clock m_clock;
    LineAssembler m_assembler;
    bool m_running = false;
    bool m_suspended = false;
    bool m_pumpScheduled = false;
};
