#include "serial/DeviceWatch.h"

#include "serial/PortDirectory.h"

#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>
// After windows.h, which they need.
#include <devguid.h>
#include <setupapi.h>

// Serial drivers list their ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// while the device is there: a USB adapter's port leaves that key when it is
// pulled out and comes back when it is plugged in. The watch waits on a
// change notification of the key, so a long wait costs nothing. The key
// may not exist yet (no serial driver has started since boot), or the
// notification may be refused: then the watch looks every few seconds. Windows
// gives a port no name of its own beyond its number, so a port is known by
// its number only and no stranger is ever reported.
namespace {
bool present(const QString& node) {
    return PortDirectory::presentDevices().contains(node, Qt::CaseInsensitive);
}

constexpr int SlowLookMs = 3000;
} // namespace

struct DeviceWatch::Private {
    DeviceWatch* q = nullptr;
    HKEY key = nullptr;
    HANDLE changed = nullptr;
    QWinEventNotifier* notifier = nullptr;
    QTimer* slowLook = nullptr; // while no notification can be had
    DeviceIdentity device;
    bool goneSeen = false; // a port there when the watch began must go first
    bool active = false;

    // Asks for one notification of the next change to the key.
    bool arm() {
        if (!key && RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                  KEY_NOTIFY | KEY_READ, &key) != ERROR_SUCCESS) {
            key = nullptr;
            return false;
        }
        if (RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                    changed, TRUE) == ERROR_SUCCESS)
            return true;
        RegCloseKey(key);
        key = nullptr;
        return false;
    }

    // Arms first, then looks: a change between the two is then not missed.
    void check() {
        if (!active)
            return;
        const bool armed = arm();
        if (!present(device.node)) {
            goneSeen = true;
        } else if (goneSeen) {
            q->cancel();
            emit q->back();
            return;
        }
        if (armed)
            slowLook->stop();
        else if (!slowLook->isActive())
            slowLook->start();
    }
};

DeviceWatch::DeviceWatch(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->q = this;
    d->changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    d->notifier = new QWinEventNotifier(d->changed, this);
    d->notifier->setEnabled(false);
    connect(d->notifier, &QWinEventNotifier::activated, this, [this] { d->check(); });
    d->slowLook = new QTimer(this);
    d->slowLook->setInterval(SlowLookMs);
    connect(d->slowLook, &QTimer::timeout, this, [this] { d->check(); });
}

DeviceWatch::~DeviceWatch() {
    cancel();
    if (d->key)
        RegCloseKey(d->key);
    delete d->notifier;
    if (d->changed)
        CloseHandle(d->changed);
}

DeviceIdentity DeviceWatch::identify(const QString& node) {
    return DeviceIdentity{node, {}};
}

QString DeviceWatch::adapterName(const QString& node) {
    // The ports class lists each port's device with its name under PortName.
    const QString port = node.section(QLatin1Char('\\'), -1);
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return {};
    QString found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; found.isEmpty() && SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t name[64] = {};
        DWORD size = sizeof name - sizeof(wchar_t);
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!named || QString::fromWCharArray(name).compare(port, Qt::CaseInsensitive) != 0)
            continue;
        wchar_t text[512] = {};
        for (const DWORD property : {DWORD(SPDRP_FRIENDLYNAME), DWORD(SPDRP_DEVICEDESC)}) {
            if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                                  reinterpret_cast<BYTE*>(text),
                                                  sizeof text - sizeof(wchar_t), nullptr)) {
                found = QString::fromWCharArray(text);
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

void DeviceWatch::watch(const DeviceIdentity& device) {
    cancel();
    d->device = device;
    d->active = true;
    d->notifier->setEnabled(true);
    if (!d->arm())
        d->slowLook->start();
    d->goneSeen = !present(device.node);
    // It may be back already; say so from the event loop, as later.
    QTimer::singleShot(0, this, [this] { d->check(); });
}

void DeviceWatch::cancel() {
    d->active = false;
    d->notifier->setEnabled(false);
    d->slowLook->stop();
    // Closing the key ends a pending notification.
    if (d->key) {
        RegCloseKey(d->key);
        d->key = nullptr;
    }
}
