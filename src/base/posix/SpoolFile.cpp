#include "base/SpoolFile.h"

#include <QTemporaryFile>

#include <cstdio>

std::unique_ptr<QFile> openSpoolFile(const QString& folder) {
    auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/log-XXXXXX"));
    if (!file->open())
        return nullptr;
    // Unlinked at once: the open file stays ours.
    if (std::remove(QFile::encodeName(file->fileName()).constData()) == 0)
        file->setAutoRemove(false);
    return file;
}
