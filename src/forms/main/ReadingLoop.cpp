#include "ReadingLoop.h"

#include "LineText.h"
#include "app/AppState.h"
#include "platform/DesktopPlatform.h"
#include "serial/SerialPort.h"

#include <QTimer>

ReadingLoop::ReadingLoop(SerialPort& port, DesktopPlatform& platform, AppState& state, Log log,
                         Clock clock, QObject* parent)
    : QObject(parent), m_port(port), m_platform(platform), m_state(state), m_log(std::move(log)),
      m_clock(std::move(clock)) {
    connect(&m_port, &SerialPort::dataReceived, this, &ReadingLoop::pump);
    connect(&m_port, &SerialPort::failed, this, [this](const AppError& e) {
        if (m_running)
            errorPath(e);
    });
}

void ReadingLoop::start() {
    m_running = true;
    m_suspended = false;
    m_port.setInputLen(1);
    if (!m_port.PortOpen()) {
        if (Failure f = m_port.setPortOpen(true)) {
            errorPath(*f);
            return;
        }
    }
    m_log.clear();
    m_assembler.reset();
    m_platform.prepareTyping();
    pump();
}

void ReadingLoop::stop() {
    if (!m_running)
        return;
    if (!m_suspended && m_port.InBufferCount() > 0) {
        bool completed = false;
        if (!handleByte(m_port.Input().at(0), &completed))
            return;
        // The LF behind a CR is part of that line's end.
        if (completed && m_port.InBufferCount() > 0) {
            const QByteArray next = m_port.Input();
            if (next != "\n")
                m_assembler.feed(next.at(0));
        }
    }
    m_running = false;
    m_port.setPortOpen(false);
    emit stopped();
}

void ReadingLoop::abandon() {
    m_running = false;
    m_port.setPortOpen(false);
}

void ReadingLoop::setSuspended(bool suspended) {
    m_suspended = suspended;
    if (!suspended)
        schedulePump();
}

void ReadingLoop::schedulePump() {
    if (m_pumpScheduled)
        return;
    m_pumpScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_pumpScheduled = false;
        pump();
    });
}

void ReadingLoop::pump() {
    while (m_running && !m_suspended && !m_state.StopFlag && m_port.InBufferCount() > 0) {
        bool completed = false;
        if (!handleByte(m_port.Input().at(0), &completed))
            return;
        if (completed) {
            // Let Stop, the timer and dialogs in before the next line.
            if (m_port.InBufferCount() > 0)
                schedulePump();
            return;
        }
    }
}

bool ReadingLoop::handleByte(char byte, bool* lineCompleted) {
    *lineCompleted = m_assembler.feed(byte) == LineAssembler::Outcome::LineCompleted;
    if (*lineCompleted)
        return completeLine();
    return true;
}

bool ReadingLoop::completeLine() {
    const QByteArray data = m_assembler.takeLine();
    if (Failure f = m_platform.activate(m_state.TaskId)) {
        errorPath(*f);
        return false;
    }
    const QDateTime now = m_clock();
    AppError error;
    const auto line =
        LineText::compose(LineText::decode(data), m_state.InsertDate, m_state.InsertTime,
                          ConnectTime::dateText(now), ConnectTime::timeText(now), &error);
    if (!line) {
        errorPath(error);
        return false;
    }
    if (Failure f = m_platform.typeText(*line)) {
        errorPath(*f);
        return false;
    }
    m_log.insert(*line);
    return true;
}

void ReadingLoop::errorPath(const AppError& error) {
    m_running = false;
    m_port.setPortOpen(false);
    if (error.number != Err::PathFileAccess) {
        m_log.insert(QStringLiteral("The reception error occurred.\r\n"));
        m_log.insert(error.message + QStringLiteral("\r\n"));
    }
    emit halted(error);
}
