#include "ManualFile.h"

#include <QDir>
#include <QFileInfo>

namespace ManualFile {

QStringList candidates(const QString& exeDir) {
    const QDir dir(exeDir);
    QStringList paths{
        dir.filePath(FileName),
        QDir::cleanPath(dir.filePath(QStringLiteral("../share/doc/parvelo/") + FileName)),
        QStringLiteral("/usr/share/doc/parvelo/") + FileName};
    paths.removeDuplicates();
    return paths;
}

QString find(const QString& exeDir) {
    for (const QString& path : candidates(exeDir)) {
        const QFileInfo f(path);
        if (f.isFile() && f.isReadable())
            return path;
    }
    return {};
}

} // namespace ManualFile
