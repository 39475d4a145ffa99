#include "SettingsStore.h"

#include <QDir>
#include <QSettings>

namespace {
QSettings openStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::AppName,
                     SettingsStore::AppName);
}

QString fullKey(const QString& section, const QString& key) {
    return section + '/' + key;
}
} // namespace

QString SettingsStore::get(const QString& section, const QString& key,
                           const QString& defaultValue) const {
    const QSettings s = openStore();
    const QVariant v = s.value(fullKey(section, key));
    if (!v.isValid())
        return defaultValue;
    // A value the INI parser turned into a list (an unquoted comma) is still
    // the text the user stored.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(',');
    return v.toString();
}

Failure SettingsStore::set(const QString& section, const QString& key, const QString& value) {
    QSettings s = openStore();
    s.setValue(fullKey(section, key), value);
    s.sync();
    if (s.status() != QSettings::NoError)
        return makeError(
            Err::SettingsWriteFailed,
            QStringLiteral("The settings could not be written to %1.").arg(s.fileName()));
    return std::nullopt;
}

QString SettingsStore::defaultOpenPathName() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Program Files\\Microsoft Office\\Office\\");
#else
    return QStringLiteral("/usr/bin/");
#endif
}

QString SettingsStore::defaultSavePathName() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QDir::homePath();
#endif
}

QString SettingsStore::defaultExeFileName() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE");
#else
    return QStringLiteral("/usr/bin/localc");
#endif
}
