#pragma once

#include "serial/SerialDevice.h"

#include <QMutex>
#include <atomic>
#include <thread>

// A COM port through Win32. One thread of its own does all the I/O with
// overlapped reads and writes, each waited for on an event handle: no
// completion port (Wine never completes WaitCommEvent on one) and no modem
// status events (a pty behind Wine refuses them). The thread hands what it
// read to the UI thread, which only copies buffers under a short lock.
class WinSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit WinSerialDevice(QObject* parent);
    ~WinSerialDevice() override;

    Failure open(const QString& path) override;
    void close() override;
    bool isOpen() const override { return m_handle != nullptr; }
    Failure configure(const SerialSettings& settings, qint32 handshaking) override;
    qint32 actualBaud() const override;
    bool marksParity() const override { return false; }
    void purge() override;
    QByteArray readAll() override;
    void readWaiting() override;
    bool write(const QByteArray& data) override;
    qint64 bytesToWrite() const override;
    QString errorString() const override;
    bool hungUp() const override;

private:
    void run();
    void deliver();
    void setError(unsigned long code);

    void* m_handle = nullptr; // HANDLE
    void* m_wake = nullptr;   // event: stop, or data to send
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    QString m_path;

    mutable QMutex m_lock; // guards what follows
    QByteArray m_received;
    QByteArray m_toSend;
    qint64 m_sending = 0; // bytes handed to WriteFile, not yet done
    bool m_deliveryPosted = false;
    unsigned long m_error = 0;
};
