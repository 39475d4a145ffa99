#include "app/SettingsFile.h"

QSettings openSettingsFile(const QString& folder, const QString& name) {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, folder, name);
}
