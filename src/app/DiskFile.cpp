#include "DiskFile.h"

#include "base/SystemFile.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

namespace {
using SystemFile::Handle;

int readAll(Handle file, QByteArray* contents) {
    contents->clear();
    char buffer[16384];
    for (;;) {
        const qint64 n = SystemFile::read(file, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0)
            return int(-n);
        contents->append(buffer, n);
    }
}

// Where the bytes really go: a link is replaced by way of its target, as
// QSettings did, so a settings file that links elsewhere keeps doing so.
QString finalTarget(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

// The new file, created beside the target so that the rename stays on one
// file system, with the target's permissions when it has any.
int createBeside(const QString& target, QString* name, Handle* file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = target + '.' + QString::number(QRandomGenerator::global()->generate(), 16);
        const int error = SystemFile::createNew(*name, target, file);
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

int writeAndCheck(const QString& name, Handle file, const QByteArray& contents) {
    qint64 written = 0;
    int error = SystemFile::write(file, contents.constData(), contents.size(), &written);
    // Some file systems report a full disk only when the data is flushed.
    if (!error)
        error = SystemFile::sync(file);
    if (const int e = SystemFile::close(file); e && !error)
        error = e;
    if (error)
        return error;
    QByteArray back;
    if (const int e = DiskFile::read(name, &back))
        return e;
    return back == contents ? 0 : EIO;
}
} // namespace

int DiskFile::read(const QString& path, QByteArray* contents) {
    Handle file = SystemFile::NoFile;
    if (const int error = SystemFile::openRead(path, &file))
        return error;
    const int error = readAll(file, contents);
    SystemFile::close(file);
    return error;
}

int DiskFile::replace(const QString& path, const QByteArray& contents) {
    const QString target = finalTarget(path);
    QString name;
    Handle file = SystemFile::NoFile;
    if (const int error = createBeside(target, &name, &file))
        return error;
    int error = writeAndCheck(name, file, contents);
    if (!error)
        error = SystemFile::replace(name, target);
    if (error)
        SystemFile::remove(name);
    return error;
}
