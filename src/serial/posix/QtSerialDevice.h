#pragma once

#include "serial/SerialDevice.h"

class QSerialPort;

// A serial device through Qt Serial Port, with termios for what Qt leaves
// out: 1.5 stop bits, marked parity errors, the speed really set, and the
// kernel's exclusive use.
class QtSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent);
    ~QtSerialDevice() override;

    Failure open(const QString& path) override;
    void close() override;
    bool isOpen() const override;
    Failure configure(const SerialSettings& settings, qint32 handshaking) override;
    qint32 actualBaud() const override;
    bool marksParity() const override { return m_marksParity; }
    void purge() override;
    QByteArray readAll() override;
    void readWaiting() override;
    bool write(const QByteArray& data) override;
    qint64 bytesToWrite() const override;
    QString errorString() const override;
    bool hungUp() const override;

private:
    void configureParityCheck(char parity);

    QSerialPort* m_port;
    QString m_path;
    bool m_marksParity = false;
};
