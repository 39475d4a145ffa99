#include "SerialPort.h"

#include "PortDirectory.h"
#include "PortFailures.h"

#include "SerialDevice.h"

#include <QTimer>

namespace {
// An unplugged adapter is hung up a moment before its device node goes;
// this long it may take.
constexpr int NodeGoneMs = 500;
constexpr int NodePollMs = 50;
} // namespace

SerialPort::SerialPort(QObject* parent) : QObject(parent), m_port(SerialDevice::create(this)) {
    connect(m_port, &SerialDevice::readyRead, this, &SerialPort::onReadyRead);
    connect(m_port, &SerialDevice::faulted, this,
            [this](SerialDevice::Fault f) { onFault(static_cast<int>(f)); });
}

SerialPort::~SerialPort() {
    m_port->close();
}

Failure SerialPort::setCommPort(int number) {
    if (m_port->isOpen())
        return makeError(Err::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (number < 1 || number > 16)
        return makeError(Err::PortNumberInvalid,
                         QStringLiteral("Invalid port number %1: use 1 to 16.").arg(number));
    m_commPort = static_cast<std::int16_t>(number);
    return std::nullopt;
}

Failure SerialPort::setSettings(const QString& text) {
    AppError error;
    const auto parsed = SerialSettings::parse(text, &error);
    if (!parsed)
        return error;
    const SerialSettings previous = m_settings;
    m_settings = *parsed;
    if (m_port->isOpen()) {
        if (Failure f = applyToDevice()) {
            m_settings = previous;
            applyToDevice();
            return f;
        }
    }
    return std::nullopt;
}

Failure SerialPort::setHandshaking(qint64 value) {
    if (value < 0 || value > 3)
        return makeError(
            Err::InvalidPropertyValue,
            QStringLiteral("Invalid property value: handshaking %1 (use 0 to 3).").arg(value));
    const qint32 previous = m_handshaking;
    m_handshaking = static_cast<qint32>(value);
    if (m_port->isOpen()) {
        if (m_port->configure(m_settings, m_handshaking)) {
            m_handshaking = previous;
            return PortFailures::refused(QStringLiteral("Flow control refused by"), m_device,
                                         m_port->errorString());
        }
    }
    return std::nullopt;
}

Failure SerialPort::setInputLen(int value) {
    if (value < 0 || value > 32767)
        return makeError(Err::InvalidPropertyValue,
                         QStringLiteral("Invalid property value: input length %1.").arg(value));
    m_inputLen = static_cast<std::int16_t>(value);
    return std::nullopt;
}

Failure SerialPort::take(const SerialChoice& choice) {
    const std::int16_t oldPort = m_commPort;
    if (choice.CommPort != oldPort) {
        Failure f;
        if (PortOpen())
            f = setPortOpen(false);
        if (!f)
            f = setCommPort(choice.CommPort);
        if (f) {
            setCommPort(oldPort);
            return f;
        }
    }
    if (Failure f = setSettings(choice.Settings))
        return f;
    return setHandshaking(choice.Handshaking);
}

bool SerialPort::PortOpen() const {
    return m_port->isOpen();
}

QString SerialPort::devicePath() const {
    return m_resolver ? m_resolver(m_commPort) : PortDirectory::deviceFor(m_commPort);
}

Failure SerialPort::setPortOpen(bool open) {
    if (!open) {
        m_port->close();
        m_buffer.clear();
        m_bufferPos = 0;
        m_marks.reset();
        m_damaged.clear();
        m_received = m_taken = 0;
        return std::nullopt;
    }
    if (m_port->isOpen())
        return makeError(Err::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (Failure f = m_settings.deviceSupports())
        return f;
    const QString name = devicePath();
    if (name.isEmpty())
        return makeError(
            Err::PortNotAvailable,
            QStringLiteral("Com%1 stands for no serial device on this machine.").arg(m_commPort));
    return openDevice(PortDirectory::systemPath(name));
}

Failure SerialPort::reopen() {
    if (m_port->isOpen())
        return makeError(Err::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (m_device.isEmpty())
        return makeError(Err::PortNotAvailable, QStringLiteral("No device was opened before."));
    return openDevice(m_device);
}

Failure SerialPort::openDevice(const QString& path) {
    m_failed = false;
    if (Failure f = m_port->open(path))
        return f;
    m_device = path;
    ++m_opened;
    if (Failure f = applyToDevice()) {
        m_port->close();
        return f;
    }
    // The device may hold bytes from before the run; they belong to nobody.
    m_port->purge();
    m_buffer.clear();
    m_bufferPos = 0;
    m_marks.reset();
    m_damaged.clear();
    m_received = m_taken = 0;
    return std::nullopt;
}

Failure SerialPort::applyToDevice() {
    if (Failure f = m_port->configure(m_settings, m_handshaking))
        return f;
    m_marksParity = m_port->marksParity();
    if (const qint32 set = m_port->actualBaud(); set != 0) {
        const double ratio = double(set) / m_settings.baud;
        if (ratio < 0.98 || ratio > 1.02)
            return makeError(Err::PortSettingUnsupported,
                             QStringLiteral("%1 cannot run at %2 bit/s (the driver set %3).")
                                 .arg(m_device)
                                 .arg(m_settings.baud)
                                 .arg(set));
    }
    return std::nullopt;
}

void SerialPort::takeBytes(const QByteArray& raw) {
    if (!m_marksParity) {
        m_buffer += raw;
        m_received += raw.size();
        return;
    }
    QList<qsizetype> damaged;
    const QByteArray bytes = m_marks.decode(raw, &damaged);
    for (const qsizetype at : damaged)
        m_damaged.push_back(m_received + at);
    m_buffer += bytes;
    m_received += bytes.size();
}

int SerialPort::takeDamaged() {
    int n = 0;
    while (!m_damaged.empty() && m_damaged.front() < m_taken) {
        m_damaged.pop_front();
        ++n;
    }
    return n;
}

void SerialPort::readWaiting() {
    if (m_port->isOpen())
        m_port->readWaiting();
}

void SerialPort::onReadyRead() {
    // readyRead is not repeated for bytes already buffered: take them all.
    takeBytes(m_port->readAll());
    if (m_bufferPos > 4096 && m_bufferPos * 2 > m_buffer.size()) {
        m_buffer.remove(0, m_bufferPos);
        m_bufferPos = 0;
    }
    if (m_buffer.size() > m_bufferPos)
        emit dataReceived();
}

void SerialPort::onFault(int fault) {
    const auto f = static_cast<SerialDevice::Fault>(fault);
    // A hang-up shows as an endless stream of read errors; act on the first.
    if (m_failed || !m_port->isOpen())
        return;
    m_failed = true;
    const bool writing = f == SerialDevice::Fault::Write;
    // A hung-up line refuses every request: the device has gone (or is
    // going), which a run may wait out.
    const bool hungUp = m_port->hungUp();
    const int number = hungUp || f == SerialDevice::Fault::HungUp ? Err::PortHungUp
                       : writing                                  ? Err::PortWriteFailed
                                                                  : Err::PortReadFailed;
    const AppError reason = makeError(
        number, QStringLiteral("The serial device %1 went away or cannot be %2 (%3).")
                    .arg(m_device, writing ? QStringLiteral("written") : QStringLiteral("read"),
                         m_port->errorString()));
    const int tries = hungUp ? NodeGoneMs / NodePollMs : 0;
    // Close outside the device's own notification handler.
    QTimer::singleShot(0, this, [this, reason, tries, opened = m_opened] {
        // Bytes received before the failure stay to be fetched: a run that
        // waits for the device takes the lines among them.
        m_port->close();
        reportFailure(reason, tries, opened);
    });
}

void SerialPort::reportFailure(const AppError& reason, int triesLeft, int opened) {
    if (opened != m_opened) // opened again since: that failure is history
        return;
    if (!SerialDevice::exists(m_device)) {
        emit failed(PortFailures::disconnected(m_device));
    } else if (triesLeft > 0) {
        QTimer::singleShot(NodePollMs, this, [this, reason, triesLeft, opened] {
            reportFailure(reason, triesLeft - 1, opened);
        });
    } else {
        emit failed(reason);
    }
}

Failure SerialPort::setOutput(const QByteArray& data) {
    if (!PortOpen())
        return makeError(Err::PortNotOpen,
                         QStringLiteral("The port is closed: nothing can be sent to the "
                                        "instrument. Start reading first."));
    const qint64 waiting = m_port->bytesToWrite();
    if (waiting + data.size() > MaxPendingOutput)
        return makeError(Err::PortOutputBlocked,
                         QStringLiteral("The instrument on %1 takes nothing: %2 bytes still wait "
                                        "to be sent. Check the cable and the flow control "
                                        "(Property).")
                             .arg(m_device)
                             .arg(waiting));
    if (!m_port->write(data))
        return makeError(Err::PortWriteFailed, QStringLiteral("Nothing could be sent to %1 (%2).")
                                                   .arg(m_device, m_port->errorString()));
    return std::nullopt;
}

std::int16_t SerialPort::InBufferCount() const {
    return static_cast<std::int16_t>(qMin<qsizetype>(m_buffer.size() - m_bufferPos, 32767));
}

QByteArray SerialPort::Input() {
    const qsizetype waiting = m_buffer.size() - m_bufferPos;
    const qsizetype n = m_inputLen == 0 ? waiting : qMin<qsizetype>(waiting, m_inputLen);
    const QByteArray out = m_buffer.mid(m_bufferPos, n);
    m_bufferPos += int(n);
    m_taken += n;
    if (m_bufferPos == m_buffer.size()) {
        m_buffer.clear();
        m_bufferPos = 0;
    }
    return out;
}
