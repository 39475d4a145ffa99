#include "PortDevices.h"

#include "app/SettingsStore.h"
#include "serial/PortDirectory.h"

QString portDeviceFor(const SettingsStore& store, int number) {
    const QString named = store.get(QStringLiteral("Ports"), QStringLiteral("Com%1").arg(number));
    if (!named.isEmpty())
        return named;
    return PortDirectory::deviceFor(number);
}
