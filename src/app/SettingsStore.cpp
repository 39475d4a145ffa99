#include "SettingsStore.h"

#include "AppState.h"
#include "DiskFile.h"
#include "IniText.h"
#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>

namespace {
QSettings openStore() {
    const QString& profile = AppState::instance().Profile;
    const QString app = QString::fromLatin1(SettingsStore::AppName);
    return openSettingsFile(app, profile.isEmpty() ? app : app + QLatin1Char('-') + profile);
}

QString fullKey(const QString& section, const QString& key) {
    return section + '/' + key;
}

// What the file holds now, as QSettings reads it (lines it cannot use are
// dropped, as QSettings dropped them when it wrote). The file alone: the
// system-wide files QSettings falls back to are not the user's to copy.
QVariantMap storedValues(const QString& path) {
    const QSettings file(path, QSettings::IniFormat);
    QVariantMap values;
    for (const QString& key : file.allKeys())
        values.insert(key, file.value(key));
    return values;
}

// QSettings rereads a file only when its size or modification time (in
// milliseconds) changed: a new file of the same size written within the
// same millisecond would go unseen.
struct Stamp {
    explicit Stamp(const QString& path)
        : size(QFileInfo(path).size()), time(QFileInfo(path).lastModified()) {}
    bool operator==(const Stamp& o) const { return size == o.size && time == o.time; }
    qint64 size;
    QDateTime time;
};
void markChanged(const QString& path, const Stamp& before) {
    if (!(Stamp(path) == before))
        return;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        f.setFileTime(before.time.addMSecs(1), QFileDevice::FileModificationTime);
}

AppError saveFailed(const QString& path, int error) {
    QString advice;
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT // not on Windows
    case EDQUOT:
#endif
        advice = QStringLiteral("Free some space on that disk");
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        advice = QStringLiteral("Make that folder writable");
        break;
    default:
        advice = QStringLiteral("Check that file and its folder");
    }
    return makeError(Err::SettingsWriteFailed,
                     QStringLiteral("The settings could not be saved to %1: %2. %3; the previous "
                                    "settings are kept.")
                         .arg(path, QString::fromLocal8Bit(std::strerror(error)), advice));
}
} // namespace

QString SettingsStore::fileName() {
    return openStore().fileName();
}

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
    return set(section, Values{{key, value}});
}

Failure SettingsStore::set(const QString& section, const Values& values) {
    const QString path = fileName();
    QByteArray before;
    const int readError = DiskFile::read(path, &before);
    if (readError && readError != ENOENT)
        return saveFailed(path, readError);
    const Stamp old(path);

    QVariantMap all = storedValues(path);
    for (const auto& [key, value] : values)
        all.insert(fullKey(section, key), value);
    const QByteArray after = IniText::format(all);
    if (!readError && after == before)
        return std::nullopt; // nothing to write, and nothing that could fail

    QDir().mkpath(QFileInfo(path).absolutePath());
    if (const int error = DiskFile::replace(path, after))
        return saveFailed(path, error);
    markChanged(path, old);
    return std::nullopt;
}
