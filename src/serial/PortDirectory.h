#pragma once

#include <QString>
#include <QStringList>

// Which device a port number stands for. A [Ports] entry "ComN" in the
// settings store names it; otherwise, on Linux, N is the N-th serial device
// present: onboard ttyS ports that really exist, then ttyUSB, ttyACM, then
// others; on Windows it is COMN.
class PortDirectory {
public:
    // Device paths present on this machine, in the order above.
    static QStringList presentDevices();
    // Orders device names (e.g. "ttyUSB1") as presentDevices does.
    static QStringList ordered(QStringList names);
    // The device for port number (1-based), or empty when there is none.
    static QString deviceFor(int number);
    // The path the system opens for a device name the user wrote.
    static QString systemPath(const QString& name);
};
