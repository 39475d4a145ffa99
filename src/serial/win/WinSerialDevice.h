#pragma once

#include "serial/SerialDevice.h"

#include <QMutex>
#include <atomic>
#include <optional>
#include <thread>

// A COM port through Win32. One thread of its own does all the I/O with
// overlapped reads and writes, each waited for on an event handle: no
// completion port (Wine never completes WaitCommEvent on one) and no modem
// status events (a pty behind Wine refuses them). The thread hands what it
// read to the UI thread, which only copies buffers under a short lock. An
// error that drivers give with the adapter still attached is ridden out by
// opening the port anew (PortRecovery), before anything is reported.
class WinSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit WinSerialDevice(QObject* parent);
    ~WinSerialDevice() override;

    Failure open(const QString& path) override;
    void close() override;
    bool isOpen() const override { return m_handle.load() != nullptr; }
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
    // After an error that drivers give with the adapter still attached:
    // the port opened anew, as it was set up. False: it could not be.
    bool reopen(unsigned long* code);
    void deliver();
    void setError(unsigned long code);

    // HANDLE; the I/O thread replaces it when it opens the port anew.
    std::atomic<void*> m_handle{nullptr};
    void* m_wake = nullptr; // event: stop, or data to send
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    QString m_path;
    std::optional<SerialSettings> m_settings; // as configure() last set them
    qint32 m_handshaking = 0;

    mutable QMutex m_lock; // guards what follows
    QByteArray m_received;
    QByteArray m_toSend;
    qint64 m_sending = 0; // bytes handed to WriteFile, not yet done
    bool m_deliveryPosted = false;
    unsigned long m_error = 0;
};
