#include "serial/PortDirectory.h"

#include <QRegularExpression>
#include <algorithm>

#include <windows.h>

namespace {
int comNumber(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^COM(\\d+)$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The ports the serial drivers announce: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM are their names.
QStringList announcedPorts() {
    QStringList names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t value[256];
        wchar_t data[256];
        DWORD valueLength = 256, dataLength = sizeof data, type = 0;
        const LONG r = RegEnumValueW(key, i, value, &valueLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataLength);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_SUCCESS && type == REG_SZ)
            names << QString::fromWCharArray(data, int(dataLength / sizeof(wchar_t)))
                         .remove(QChar(0));
    }
    RegCloseKey(key);
    return names;
}
} // namespace

QStringList PortDirectory::ordered(QStringList names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int na = comNumber(a), nb = comNumber(b);
        return na != nb ? na < nb : a < b;
    });
    return names;
}

QStringList PortDirectory::presentDevices() {
    QStringList names = announcedPorts();
    // Some drivers (and Wine) name their ports only as DOS devices.
    for (int n = 1; n <= 16; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        wchar_t target[1024];
        if (!names.contains(name, Qt::CaseInsensitive) &&
            QueryDosDeviceW(name.toStdWString().c_str(), target, 1024))
            names << name;
    }
    return ordered(names);
}

QString PortDirectory::deviceFor(int number) {
    // Com1 ... Com16 are COM1 ... COM16, whether present or not: opening
    // says which is missing.
    if (number < 1 || number > 16)
        return {};
    return QStringLiteral("COM%1").arg(number);
}

QString PortDirectory::systemPath(const QString& name) {
    return name;
}
