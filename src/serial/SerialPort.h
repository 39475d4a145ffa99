#pragma once

// The serial folder: the port (opening, reading, hang-up and error reports), its
// settings text, parity marks and the list of devices. It includes base/ and,
// on Linux, Qt SerialPort, and knows no window. What differs between systems
// is in posix/ and win/, one file per concern, chosen by the build.

#include "ParityMarks.h"
#include "SerialChoice.h"
#include "SerialSettings.h"
#include "base/AppError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

class SerialDevice;

// The serial component: the properties CommPort, Settings, Handshaking,
// InputLen, PortOpen, InBufferCount, Input and Output. A refused assignment returns
// an error and keeps the previous value. Received bytes are buffered here;
// bytes with a parity error are replaced by "?".
class SerialPort : public QObject {
    Q_OBJECT
public:
    // Maps a port number to a device path; empty when there is none.
    using PortResolver = std::function<QString(int)>;

    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    void setPortResolver(PortResolver resolver) { m_resolver = std::move(resolver); }

    std::int16_t CommPort() const { return m_commPort; }
    Failure setCommPort(int number);

    QString Settings() const { return m_settings.toString(); }
    Failure setSettings(const QString& text);

    qint32 Handshaking() const { return m_handshaking; }
    Failure setHandshaking(qint64 value);

    std::int16_t InputLen() const { return m_inputLen; }
    Failure setInputLen(int value);

    // The values the user chooses, as the port reports them.
    SerialChoice choice() const { return {Settings(), CommPort(), Handshaking()}; }
    // Takes a choice step by step: the port number (only when it changes; an
    // open port is closed first and stays closed), the settings, the
    // handshaking. Stops at the first refusal: a refused port number puts the
    // old one back, values taken before the refusal stay.
    Failure take(const SerialChoice& choice);

    bool PortOpen() const;
    // Opening is refused while another process has the device (found by its
    // descriptors or its lock file); once open, no other process can open it.
    Failure setPortOpen(bool open);

    // Opens the device opened last again, with the current settings: the
    // same device after it went away, whatever the port number stands for
    // now.
    Failure reopen();
    // The device opened last, or empty.
    QString openedDevice() const { return m_device; }

    // Received bytes waiting to be fetched (saturates at 32767).
    std::int16_t InBufferCount() const;
    // Removes and returns up to InputLen waiting bytes (all of them when
    // InputLen is 0); empty when none wait.
    QByteArray Input();
    // How many of the bytes Input() returned since the last call stand for
    // characters received with a parity or framing error (each is a "?").
    int takeDamaged();

    // Sends data to the instrument without waiting; the flow control chosen
    // holds it back while the instrument is not ready. Refused while the
    // port is closed, and while more than MaxPendingOutput bytes still wait
    // (an instrument that takes nothing must not make the program grow).
    // A write that fails later ends in failed(), as a read does.
    Failure setOutput(const QByteArray& data);
    static constexpr qsizetype MaxPendingOutput = 4096;

    // Reads, without waiting, what the device has received but not yet
    // handed over (dataReceived follows when there was any).
    void readWaiting();

    // The device path the current port number stands for, or empty.
    QString devicePath() const;

signals:
    // New bytes have been buffered.
    void dataReceived();
    // The device went away (Err::PortHungUp) or reading failed; the port
    // has been closed. Bytes received before stay to be fetched until the
    // port is closed or opened again.
    void failed(const AppError& error);

private:
    void onReadyRead();
    void onFault(int fault);
    // Emits failed: "disconnected" when the device node has gone, checked
    // again triesLeft times while a hung-up adapter may still be going.
    void reportFailure(const AppError& reason, int triesLeft, int opened);
    Failure openDevice(const QString& path);
    Failure applyToDevice();
    void takeBytes(const QByteArray& raw);

    PortResolver m_resolver;
    SerialDevice* m_port = nullptr;
    std::int16_t m_commPort = 1;
    SerialSettings m_settings;
    qint32 m_handshaking = 0;
    std::int16_t m_inputLen = 0;
    QByteArray m_buffer;
    int m_bufferPos = 0;
    ParityMarks m_marks;
    // Stream offsets of damaged characters not yet taken; offsets count every
    // byte buffered (m_received) and returned by Input() (m_taken).
    std::deque<qint64> m_damaged;
    qint64 m_received = 0;
    qint64 m_taken = 0;
    bool m_marksParity = false;
    bool m_failed = false;
    QString m_device; // the device last opened
    int m_opened = 0; // opens so far, to tell a late failure report from a new run
};
