#include "app/SettingsFile.h"

QSettings openSettingsFile(const QString& appName) {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, appName, appName);
}
