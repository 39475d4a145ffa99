#include "QtSerialDevice.h"

#include "DeviceHolders.h"
#include "OpenRefused.h"
#include "serial/PortFailures.h"

#include <QFileInfo>
#include <QSerialPort>

#include <asm/ioctls.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
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
} // namespace

SerialDevice* SerialDevice::create(QObject* parent) {
    return new QtSerialDevice(parent);
}

bool SerialDevice::exists(const QString& path) {
    return QFileInfo::exists(path);
}

QtSerialDevice::QtSerialDevice(QObject* parent)
    : SerialDevice(parent), m_port(new QSerialPort(this)) {
    connect(m_port, &QSerialPort::readyRead, this, &SerialDevice::readyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ReadError)
            emit faulted(Fault::Read);
        else if (e == QSerialPort::WriteError)
            emit faulted(Fault::Write);
        else if (e == QSerialPort::ResourceError)
            emit faulted(Fault::HungUp);
    });
}

QtSerialDevice::~QtSerialDevice() {
    m_port->close();
}

Failure QtSerialDevice::open(const QString& path) {
    const DeviceHolders holders(::getpid());
    // Look before opening: opening already sets the line up under the
    // other program's feet.
    if (const auto holder = holders.first(path))
        return PortFailures::inUse(path, holder);
    m_path = path;
    m_port->setPortName(path);
    if (!m_port->open(QIODevice::ReadWrite))
        return openRefused(path, holders, m_port->error() == QSerialPort::PermissionError,
                           m_port->errorString());
    // Qt's lock file binds only programs that look for it; with TIOCEXCL the
    // kernel refuses every further open (root's excepted, which the look
    // above covers).
    ::ioctl(m_port->handle(), TIOCEXCL);
    return std::nullopt;
}

void QtSerialDevice::close() {
    m_port->close();
}

bool QtSerialDevice::isOpen() const {
    return m_port->isOpen();
}

Failure QtSerialDevice::configure(const SerialSettings& settings, qint32 handshaking) {
    QSerialPort& p = *m_port;
    const auto stop = settings.stopTenths == 10   ? QSerialPort::OneStop
                      : settings.stopTenths == 20 ? QSerialPort::TwoStop
                                                  : QSerialPort::OneAndHalfStop;
    const auto refused = [this] {
        return PortFailures::refused(QStringLiteral("Settings refused by"), m_path,
                                     m_port->errorString());
    };
    if (!p.setBaudRate(settings.baud) || !p.setDataBits(QSerialPort::DataBits(settings.dataBits)) ||
        !p.setParity(toQt(settings.parity)) || !p.setFlowControl(flowToQt(handshaking)))
        return refused();
    if (stop != QSerialPort::OneAndHalfStop && !p.setStopBits(stop))
        return refused();
    const int fd = p.handle();
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        // 1.5 stop bits: a UART with 5-bit characters and CSTOPB sends 1.5.
        if (stop == QSerialPort::OneAndHalfStop)
            t.c_cflag |= CSTOPB;
        tcsetattr(fd, TCSANOW, &t);
    }
    configureParityCheck(settings.parity);
    return std::nullopt;
}

qint32 QtSerialDevice::actualBaud() const {
    // Speeds without a B constant go through BOTHER; drivers may clip them
    // without telling.
    KernelTermios2 t2{};
    const int fd = m_port->handle();
    if (fd >= 0 && ::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &t2) == 0)
        return qint32(t2.c_ospeed);
    return 0;
}

void QtSerialDevice::configureParityCheck(char parity) {
    const int fd = m_port->handle();
    termios t{};
    m_marksParity = false;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return;
    // Qt ignores parity errors; mark them instead so that "?" can stand in
    // for the damaged character. PARMRK also doubles every real 0xFF.
    if (parity != 'n') {
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~(IGNPAR | ISTRIP);
    } else {
        t.c_iflag &= ~(INPCK | PARMRK);
    }
    tcsetattr(fd, TCSANOW, &t);
    termios check{};
    m_marksParity = tcgetattr(fd, &check) == 0 && (check.c_iflag & PARMRK);
}

void QtSerialDevice::purge() {
    m_port->clear(QSerialPort::AllDirections);
}

QByteArray QtSerialDevice::readAll() {
    return m_port->readAll();
}

void QtSerialDevice::readWaiting() {
    // A zero timeout polls the descriptor once and reads what is there;
    // bounded, as a fast instrument never lets the descriptor run dry.
    for (int i = 0; i < 64 && m_port->isOpen() && m_port->waitForReadyRead(0); ++i) {
    }
}

bool QtSerialDevice::write(const QByteArray& data) {
    return m_port->write(data) == data.size();
}

qint64 QtSerialDevice::bytesToWrite() const {
    return m_port->bytesToWrite();
}

QString QtSerialDevice::errorString() const {
    return m_port->errorString();
}

bool QtSerialDevice::hungUp() const {
    // A hung-up line refuses every request with EIO.
    termios t{};
    return ::tcgetattr(m_port->handle(), &t) != 0 && errno == EIO;
}
