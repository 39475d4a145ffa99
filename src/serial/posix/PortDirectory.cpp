#include "serial/PortDirectory.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

namespace {
// 0: onboard UART, 1: USB adapter, 2: USB modem class, 3: anything else.
int familyRank(const QString& name) {
    if (name.startsWith("ttyS"))
        return 0;
    if (name.startsWith("ttyUSB"))
        return 1;
    if (name.startsWith("ttyACM"))
        return 2;
    return 3;
}

// Splits "ttyUSB12" into "ttyUSB" and 12 so that ttyUSB2 sorts before ttyUSB10.
std::pair<QString, int> split(const QString& name) {
    static const QRegularExpression re("^(.*?)(\\d+)$");
    const auto m = re.match(name);
    if (!m.hasMatch())
        return {name, -1};
    return {m.captured(1), m.captured(2).toInt()};
}

// The kernel creates ttyS0..ttyS31 whether or not a UART is behind them;
// a type of 0 means there is none.
bool uartPresent(const QString& name) {
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(name));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() != "0";
}
} // namespace

QStringList PortDirectory::ordered(QStringList names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int ra = familyRank(a), rb = familyRank(b);
        if (ra != rb)
            return ra < rb;
        const auto sa = split(a), sb = split(b);
        if (sa.first != sb.first)
            return sa.first < sb.first;
        return sa.second < sb.second;
    });
    return names;
}

QStringList PortDirectory::presentDevices() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (name.startsWith("ttyS") && !uartPresent(name))
            continue;
        if (!names.contains(name))
            names << name;
    }
    QStringList paths;
    for (const QString& name : ordered(names))
        paths << QStringLiteral("/dev/") + name;
    return paths;
}

QString PortDirectory::deviceFor(int number) {
    const QStringList devices = presentDevices();
    if (number < 1 || number > devices.size())
        return {};
    return devices.at(number - 1);
}

QString PortDirectory::systemPath(const QString& name) {
    // A bare name lives in /dev, as Qt takes it.
    return name.startsWith('/') || name.startsWith(QLatin1String("./")) ||
                   name.startsWith(QLatin1String("../"))
               ? name
               : QStringLiteral("/dev/") + name;
}
