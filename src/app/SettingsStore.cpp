#include "SettingsStore.h"

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
    QString fileName;
    const auto write = [&] {
        QSettings s = openStore();
        s.setValue(fullKey(section, key), value);
        s.sync();
        fileName = s.fileName();
        return s.status();
    };
    QSettings::Status status = write();
    // A file with lines the INI reader cannot use (no '=', a section header
    // without ']') gives FormatError, and that status hides whether the file
    // was written. When it was, it no longer holds those lines, and a second
    // write of the same value succeeds; when it was not, the second write
    // fails as well.
    if (status == QSettings::FormatError)
        status = write();
    if (status != QSettings::NoError)
        return makeError(Err::SettingsWriteFailed,
                         QStringLiteral("The settings could not be written to %1.").arg(fileName));
    return std::nullopt;
}
