#pragma once

#include "SerialSettings.h"
#include "base/AppError.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The operating system's side of a serial port: opening a device for this
// program alone, setting the line up, reading, writing, closing. Everything
// else a port is (its properties, the buffer, parity marks, failure texts)
// is SerialPort's, the same on every system. One implementation per system,
// chosen by the build: posix/ (Qt Serial Port and termios), win/ (Win32).
class SerialDevice : public QObject {
    Q_OBJECT
public:
    enum class Fault { Read, Write, HungUp };

    // This system's device, owned by parent.
    static SerialDevice* create(QObject* parent);
    // Whether the device path stands for is on this machine now.
    static bool exists(const QString& path);

    using QObject::QObject;

    // Opens path (as PortDirectory names it) for this program alone; no
    // other program can open it while it is open. The failure says why, in
    // the words PortFailures uses.
    virtual Failure open(const QString& path) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Sets the line up; an error names what was refused and by whom.
    virtual Failure configure(const SerialSettings& settings, qint32 handshaking) = 0;
    // The speed the driver really set, or 0 when it cannot tell.
    virtual qint32 actualBaud() const = 0;
    // True when bytes with a parity error arrive marked as ParityMarks
    // decodes them; false when the driver replaces them with "?" itself.
    virtual bool marksParity() const = 0;
    // Drops what the device received before now and what waits to be sent.
    virtual void purge() = 0;

    // Everything received so far, removed from the device.
    virtual QByteArray readAll() = 0;
    // Takes, without waiting, what the system holds but has not yet handed
    // over; readyRead follows when there was any.
    virtual void readWaiting() = 0;
    // Queues data; false when the system refused it at once.
    virtual bool write(const QByteArray& data) = 0;
    virtual qint64 bytesToWrite() const = 0;

    // The system's text for the last error.
    virtual QString errorString() const = 0;
    // After a fault: the line refuses every request, as an adapter does for
    // a moment before its device goes away.
    virtual bool hungUp() const = 0;

signals:
    void readyRead();
    // Reading or writing failed; the device is still open.
    void faulted(SerialDevice::Fault fault);
};
