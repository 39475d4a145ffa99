#include "app/SettingsFile.h"

#include <QDir>

#include <shlobj.h>
#include <windows.h>

QSettings openSettingsFile(const QString& folderName, const QString& name) {
    // A file rather than the registry: the same text as on Linux, which a
    // user can read, copy to another PC and edit with the README's advice.
    // Roaming, so that it follows the user as Windows settings do.
    QString folder;
    wchar_t* path = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path)))
        folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/AppData/Roaming");
    return QSettings(QStringLiteral("%1/%2/%3.conf").arg(folder, folderName, name),
                     QSettings::IniFormat);
}
