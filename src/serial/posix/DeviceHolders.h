#pragma once

#include "serial/PortFailures.h"

#include <QList>
#include <QString>
#include <optional>

// Finds who else has a serial device: processes with a descriptor on it,
// and the live owner of its lock file. The lock file alone is not enough:
// programs without lock files (cat, scripts) leave none, and Qt takes over
// a UUCP-style lock (a PID and nothing else) even from a live owner.
class DeviceHolders {
public:
    // self: the process whose own descriptors do not count.
    explicit DeviceHolders(qint64 self);

    // Processes other than self with device open, lowest PID first. Without
    // privileges only the user's own processes can be seen.
    QList<DeviceHolder> openers(const QString& device) const;
    // The live process a lock file names for device (self included: a lock
    // of ours on a device we are about to open is a second user of it).
    std::optional<DeviceHolder> lockOwner(const QString& device) const;
    // The first opener, else the lock owner.
    std::optional<DeviceHolder> first(const QString& device) const;

    // Where the lock file for device is looked for, as Qt places it.
    static QStringList lockFileCandidates(const QString& device);

private:
    qint64 m_self;
};
