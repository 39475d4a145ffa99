#include "WinSerialDevice.h"

#include "serial/PortFailures.h"
#include "serial/win/PortRecovery.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <windows.h>

namespace {
// A read waits for the first byte, then ends at a pause of this long in the
// data, or when the chunk is full: a chunk is short, so that a line that
// comes without pauses is handed on within a tenth of a second even at
// 9600 bit/s. (The "return at once with what is there" timeouts never
// complete an overlapped read under Wine.)
constexpr DWORD PauseMs = 10;
constexpr DWORD ReadChunk = 64;

QString systemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString s = n ? QString::fromWCharArray(text, int(n)).trimmed()
                  : QStringLiteral("system error %1").arg(code);
    LocalFree(text);
    return s;
}

std::wstring devicePath(const QString& name) {
    // COM10 and above open only through the device namespace.
    return (QStringLiteral("\\\\.\\") + name).toStdWString();
}

BYTE parityOf(char parity) {
    switch (parity) {
    case 'e':
        return EVENPARITY;
    case 'o':
        return ODDPARITY;
    case 'm':
        return MARKPARITY;
    case 's':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

// Timeouts and buffers, as every open of the port needs them.
bool prepare(HANDLE h) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = PauseMs;
    // No total: a read waits for its first byte as long as it takes (the
    // thread's wake event ends it), and flow control may hold writes back.
    if (!SetCommTimeouts(h, &timeouts))
        return false;
    SetupComm(h, 16384, 4096);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

HANDLE openPort(const QString& path) {
    // No sharing: while it is open, every other open of the port fails.
    return CreateFileW(devicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool applySettings(HANDLE h, const SerialSettings& settings, qint32 handshaking) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return false;
    dcb.BaudRate = DWORD(settings.baud);
    dcb.ByteSize = BYTE(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = settings.stopTenths == 10   ? ONESTOPBIT
                   : settings.stopTenths == 15 ? ONE5STOPBITS
                                               : TWOSTOPBITS;
    dcb.fBinary = TRUE;
    // The driver puts "?" in place of a character with a parity error.
    dcb.fParity = settings.parity != 'n';
    dcb.fErrorChar = settings.parity != 'n';
    dcb.ErrorChar = '?';
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    const bool xonXoff = handshaking == 1 || handshaking == 3;
    const bool rtsCts = handshaking == 2 || handshaking == 3;
    dcb.fOutX = dcb.fInX = xonXoff;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    return SetCommState(h, &dcb);
}
} // namespace

SerialDevice* SerialDevice::create(QObject* parent) {
    return new WinSerialDevice(parent);
}

bool SerialDevice::exists(const QString& path) {
    wchar_t target[1024];
    return QueryDosDeviceW(path.toStdWString().c_str(), target, 1024) != 0;
}

WinSerialDevice::WinSerialDevice(QObject* parent) : SerialDevice(parent) {}

WinSerialDevice::~WinSerialDevice() {
    close();
}

Failure WinSerialDevice::open(const QString& path) {
    if (m_handle)
        return makeError(Err::PortAlreadyOpen, QStringLiteral("Port already open"));
    HANDLE h = openPort(path);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        setError(code);
        if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
            return PortFailures::inUse(path, std::nullopt);
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return PortFailures::missing(path);
        return PortFailures::cannotOpen(path, systemText(code));
    }
    if (!prepare(h)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        setError(code);
        return PortFailures::cannotOpen(path, systemText(code));
    }
    m_settings.reset();
    m_handle = h;
    m_path = path;
    m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        QMutexLocker lock(&m_lock);
        m_received.clear();
        m_toSend.clear();
        m_sending = 0;
        m_error = 0;
    }
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return std::nullopt;
}

void WinSerialDevice::close() {
    if (!m_handle)
        return;
    m_stop = true;
    SetEvent(m_wake);
    m_thread.join();
    if (m_handle.load() != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
    CloseHandle(m_wake);
    m_handle = nullptr;
    m_wake = nullptr;
    QMutexLocker lock(&m_lock);
    m_received.clear();
    m_toSend.clear();
    m_sending = 0;
}

Failure WinSerialDevice::configure(const SerialSettings& settings, qint32 handshaking) {
    if (!applySettings(m_handle, settings, handshaking)) {
        setError(GetLastError());
        return PortFailures::refused(QStringLiteral("Settings refused by"), m_path, errorString());
    }
    QMutexLocker lock(&m_lock);
    m_settings = settings;
    m_handshaking = handshaking;
    return std::nullopt;
}

qint32 WinSerialDevice::actualBaud() const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return m_handle && GetCommState(m_handle, &dcb) ? qint32(dcb.BaudRate) : 0;
}

void WinSerialDevice::purge() {
    PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    QMutexLocker lock(&m_lock);
    m_received.clear();
}

QByteArray WinSerialDevice::readAll() {
    QMutexLocker lock(&m_lock);
    return std::exchange(m_received, {});
}

void WinSerialDevice::readWaiting() {
    // The thread reads as soon as bytes arrive; what it has is handed over now.
    bool any;
    {
        QMutexLocker lock(&m_lock);
        any = !m_received.isEmpty();
    }
    if (any)
        emit readyRead();
}

bool WinSerialDevice::write(const QByteArray& data) {
    if (!m_handle)
        return false;
    {
        QMutexLocker lock(&m_lock);
        m_toSend += data;
    }
    SetEvent(m_wake);
    return true;
}

qint64 WinSerialDevice::bytesToWrite() const {
    QMutexLocker lock(&m_lock);
    return m_toSend.size() + m_sending;
}

QString WinSerialDevice::errorString() const {
    QMutexLocker lock(&m_lock);
    return m_error ? systemText(m_error) : QStringLiteral("no error");
}

bool WinSerialDevice::hungUp() const {
    QMutexLocker lock(&m_lock);
    return PortRecovery::kindOf(m_error) == PortRecovery::Kind::Gone;
}

void WinSerialDevice::setError(unsigned long code) {
    QMutexLocker lock(&m_lock);
    m_error = code;
}

void WinSerialDevice::deliver() {
    {
        QMutexLocker lock(&m_lock);
        m_deliveryPosted = false;
        if (m_received.isEmpty())
            return;
    }
    emit readyRead();
}

bool WinSerialDevice::reopen(unsigned long* code) {
    std::optional<SerialSettings> settings;
    qint32 handshaking = 0;
    {
        QMutexLocker lock(&m_lock);
        settings = m_settings;
        handshaking = m_handshaking;
    }
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE; // open still, for the UI thread, until close()
    DWORD last = 0;
    const HANDLE h = PortRecovery::reopen(
        [&](DWORD* error) {
            HANDLE fresh = openPort(m_path);
            if (fresh != INVALID_HANDLE_VALUE && prepare(fresh) &&
                (!settings || applySettings(fresh, *settings, handshaking)))
                return fresh;
            *error = GetLastError();
            if (fresh != INVALID_HANDLE_VALUE)
                CloseHandle(fresh);
            return INVALID_HANDLE_VALUE;
        },
        // The wake event also comes for data to send: only a stop ends the pause.
        [this](DWORD ms) {
            const ULONGLONG until = GetTickCount64() + ms;
            for (ULONGLONG now = GetTickCount64(); !m_stop && now < until; now = GetTickCount64())
                WaitForSingleObject(m_wake, DWORD(until - now));
            return !m_stop;
        },
        &last);
    if (h == INVALID_HANDLE_VALUE) {
        if (last)
            *code = last;
        return false;
    }
    m_handle = h;
    return true;
}

void WinSerialDevice::run() {
    OVERLAPPED readOv{}, writeOv{};
    readOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char readBuffer[ReadChunk];
    QByteArray writing;
    bool reading = false;
    bool inWrite = false;
    // Nothing may still point into this thread's buffers once the handle
    // is closed or the thread is gone.
    const auto settle = [&] {
        if (!reading && !inWrite)
            return;
        CancelIo(m_handle);
        DWORD n = 0;
        if (reading)
            GetOverlappedResult(m_handle, &readOv, &n, TRUE);
        if (inWrite)
            GetOverlappedResult(m_handle, &writeOv, &n, TRUE);
        reading = inWrite = false;
    };
    // A read or write failed: a passing error is ridden out by opening the
    // port anew (true: go on); anything else is reported once, and the
    // thread stops.
    const auto failed = [&](Fault kind) {
        unsigned long code = GetLastError();
        if (PortRecovery::kindOf(code) == PortRecovery::Kind::Passing) {
            if (inWrite || !writing.isEmpty()) {
                // Unknown how much of it went: all of it goes again.
                QMutexLocker lock(&m_lock);
                m_toSend.prepend(writing);
                m_sending = 0;
                writing.clear();
            }
            settle();
            if (reopen(&code))
                return true;
        }
        setError(code);
        QMetaObject::invokeMethod(
            this, [this, kind] { emit faulted(kind); }, Qt::QueuedConnection);
        m_stop = true;
        return false;
    };
    const auto took = [this](const char* data, DWORD n) {
        if (n == 0)
            return;
        QMutexLocker lock(&m_lock);
        m_received.append(data, int(n));
        if (!m_deliveryPosted) {
            m_deliveryPosted = true;
            QMetaObject::invokeMethod(this, &WinSerialDevice::deliver, Qt::QueuedConnection);
        }
    };
    while (!m_stop) {
        if (!reading) {
            DWORD n = 0;
            ResetEvent(readOv.hEvent);
            if (ReadFile(m_handle, readBuffer, ReadChunk, &n, &readOv)) {
                took(readBuffer, n);
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                if (failed(Fault::Read))
                    continue;
                break;
            }
            reading = true;
        }
        if (!inWrite) {
            {
                QMutexLocker lock(&m_lock);
                writing = std::exchange(m_toSend, {});
                m_sending = writing.size();
            }
            if (!writing.isEmpty()) {
                DWORD n = 0;
                ResetEvent(writeOv.hEvent);
                if (WriteFile(m_handle, writing.constData(), DWORD(writing.size()), &n, &writeOv)) {
                    QMutexLocker lock(&m_lock);
                    m_sending = 0;
                    writing.clear();
                } else if (GetLastError() == ERROR_IO_PENDING) {
                    inWrite = true;
                } else if (failed(Fault::Write)) {
                    continue;
                } else {
                    break;
                }
            }
        }
        HANDLE waits[3] = {readOv.hEvent, m_wake, writeOv.hEvent};
        const DWORD w = WaitForMultipleObjects(inWrite ? 3 : 2, waits, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0) {
            DWORD n = 0;
            reading = false;
            if (!GetOverlappedResult(m_handle, &readOv, &n, FALSE)) {
                if (failed(Fault::Read))
                    continue;
                break;
            }
            took(readBuffer, n);
        } else if (w == WAIT_OBJECT_0 + 2) {
            DWORD n = 0;
            inWrite = false;
            const bool ok = GetOverlappedResult(m_handle, &writeOv, &n, FALSE);
            if (!ok) {
                if (failed(Fault::Write))
                    continue;
                break;
            }
            QMutexLocker lock(&m_lock);
            m_sending = 0;
            // What a timed-out write left unsent goes first next time.
            if (n < DWORD(writing.size()))
                m_toSend.prepend(writing.mid(int(n)));
            writing.clear();
        } else if (w == WAIT_FAILED) {
            if (failed(Fault::Read))
                continue;
            break;
        }
    }
    settle();
    CloseHandle(readOv.hEvent);
    CloseHandle(writeOv.hEvent);
}
