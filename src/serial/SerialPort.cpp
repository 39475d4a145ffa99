#include "SerialPort.h"

#include "PortDirectory.h"
#include "PortFailures.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>

#include <asm/ioctls.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// An unplugged adapter is hung up a moment before its device node goes;
// this long it may take.
constexpr int NodeGoneMs = 500;
constexpr int NodePollMs = 50;

// <asm/termbits.h> clashes with <termios.h>; this is the kernel's termios2,
// used only to read back the speed the driver really set.
struct KernelTermios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

QSerialPort::Parity toQt(char parity) {
    switch (parity) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::FlowControl flowToQt(qint32 handshaking) {
    // XON/XOFF together with RTS/CTS has no Qt setting; hardware flow
    // control is the one that protects the data.
    switch (handshaking) {
    case 1:
        return QSerialPort::SoftwareControl;
    case 2:
    case 3:
        return QSerialPort::HardwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

// The device Qt opens for a port name: a bare name lives in /dev.
QString systemPath(const QString& name) {
    return name.startsWith('/') || name.startsWith(QLatin1String("./")) ||
                   name.startsWith(QLatin1String("../"))
               ? name
               : QStringLiteral("/dev/") + name;
}

AppError deviceError(const QString& what, const QSerialPort& port) {
    // portName() drops "/dev/"; the user knows the device by its full path.
    const QString name = port.portName().startsWith('/')
                             ? port.portName()
                             : QStringLiteral("/dev/") + port.portName();
    return makeError(Err::PortNotAvailable,
                     QStringLiteral("%1 %2: %3").arg(what, name, port.errorString()));
}
} // namespace

SerialPort::SerialPort(QObject* parent) : QObject(parent), m_port(new QSerialPort(this)) {
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onError(static_cast<int>(e)); });
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
    if (m_port->isOpen() && !m_port->setFlowControl(flowToQt(m_handshaking))) {
        m_handshaking = previous;
        return deviceError(QStringLiteral("Flow control refused by"), *m_port);
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
    return openDevice(systemPath(name));
}

Failure SerialPort::reopen() {
    if (m_port->isOpen())
        return makeError(Err::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (m_device.isEmpty())
        return makeError(Err::PortNotAvailable, QStringLiteral("No device was opened before."));
    return openDevice(m_device);
}

Failure SerialPort::openDevice(const QString& path) {
    const DeviceHolders holders(::getpid());
    // Look before opening: opening already sets the line up under the
    // other program's feet.
    if (const auto holder = holders.first(path))
        return PortFailures::inUse(path, holder);
    m_port->setPortName(path);
    m_failed = false;
    if (!m_port->open(QIODevice::ReadWrite))
        return PortFailures::openRefused(
            path, holders, m_port->error() == QSerialPort::PermissionError, m_port->errorString());
    // Qt's lock file binds only programs that look for it; with TIOCEXCL the
    // kernel refuses every further open (root's excepted, which the look
    // above covers).
    ::ioctl(m_port->handle(), TIOCEXCL);
    m_device = path;
    ++m_opened;
    if (Failure f = applyToDevice()) {
        m_port->close();
        return f;
    }
    // The device may hold bytes from before the run; they belong to nobody.
    m_port->clear(QSerialPort::Input);
    m_buffer.clear();
    m_bufferPos = 0;
    m_marks.reset();
    m_damaged.clear();
    m_received = m_taken = 0;
    return std::nullopt;
}

Failure SerialPort::applyToDevice() {
    QSerialPort& p = *m_port;
    const auto stop = m_settings.stopTenths == 10   ? QSerialPort::OneStop
                      : m_settings.stopTenths == 20 ? QSerialPort::TwoStop
                                                    : QSerialPort::OneAndHalfStop;
    if (!p.setBaudRate(m_settings.baud) ||
        !p.setDataBits(QSerialPort::DataBits(m_settings.dataBits)) ||
        !p.setParity(toQt(m_settings.parity)) || !p.setFlowControl(flowToQt(m_handshaking)))
        return deviceError(QStringLiteral("Settings refused by"), p);
    if (stop != QSerialPort::OneAndHalfStop && !p.setStopBits(stop))
        return deviceError(QStringLiteral("Settings refused by"), p);
    const int fd = p.handle();
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        // 1.5 stop bits: a UART with 5-bit characters and CSTOPB sends 1.5.
        if (stop == QSerialPort::OneAndHalfStop)
            t.c_cflag |= CSTOPB;
        tcsetattr(fd, TCSANOW, &t);
    }
    // Speeds without a B constant go through BOTHER; drivers may clip them
    // without telling, so read back what was set.
    KernelTermios2 t2{};
    if (fd >= 0 && ::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &t2) == 0 && t2.c_ospeed != 0) {
        const double ratio = double(t2.c_ospeed) / m_settings.baud;
        if (ratio < 0.98 || ratio > 1.02)
            return makeError(Err::PortSettingUnsupported,
                             QStringLiteral("%1 cannot run at %2 bit/s (the driver set %3).")
                                 .arg(p.portName())
                                 .arg(m_settings.baud)
                                 .arg(t2.c_ospeed));
    }
    configureParityCheck();
    return std::nullopt;
}

void SerialPort::configureParityCheck() {
    const int fd = m_port->handle();
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return;
    // Qt ignores parity errors; mark them instead so that "?" can stand in
    // for the damaged character. PARMRK also doubles every real 0xFF.
    if (m_settings.parity != 'n') {
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~(IGNPAR | ISTRIP);
    } else {
        t.c_iflag &= ~(INPCK | PARMRK);
    }
    tcsetattr(fd, TCSANOW, &t);
    termios check{};
    m_marksParity = tcgetattr(fd, &check) == 0 && (check.c_iflag & PARMRK);
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
    // A zero timeout polls the descriptor once and reads what is there;
    // bounded, as a fast instrument never lets the descriptor run dry.
    for (int i = 0; i < 64 && m_port->isOpen() && m_port->waitForReadyRead(0); ++i) {
    }
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

void SerialPort::onError(int error) {
    const auto e = static_cast<QSerialPort::SerialPortError>(error);
    if (e != QSerialPort::ReadError && e != QSerialPort::WriteError &&
        e != QSerialPort::ResourceError)
        return;
    // A hang-up shows as an endless stream of read errors; act on the first.
    if (m_failed || !m_port->isOpen())
        return;
    m_failed = true;
    const bool writing = e == QSerialPort::WriteError;
    const int number = writing                           ? Err::PortWriteFailed
                       : e == QSerialPort::ResourceError ? Err::PortHungUp
                                                         : Err::PortReadFailed;
    // A hung-up line refuses every request with EIO: the device has gone
    // (or is going), which a run may wait out.
    termios t{};
    const bool hungUp = ::tcgetattr(m_port->handle(), &t) != 0 && errno == EIO;
    const int tries = hungUp ? NodeGoneMs / NodePollMs : 0;
    const AppError reason = makeError(
        hungUp ? Err::PortHungUp : number,
        QStringLiteral("The serial device %1 went away or cannot be %2 (%3).")
            .arg(m_port->portName(), writing ? QStringLiteral("written") : QStringLiteral("read"),
                 m_port->errorString()));
    // Close outside QSerialPort's own notification handler.
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
    if (!QFileInfo::exists(m_device)) {
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
                             .arg(m_port->portName())
                             .arg(waiting));
    if (m_port->write(data) != data.size())
        return makeError(Err::PortWriteFailed, QStringLiteral("Nothing could be sent to %1 (%2).")
                                                   .arg(m_port->portName(), m_port->errorString()));
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
