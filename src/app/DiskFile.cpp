#include "DiskFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

int readAll(int fd, QByteArray* contents) {
    contents->clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n > 0)
            contents->append(buffer, n);
        else if (errno != EINTR)
            return errno;
    }
}

int writeAll(int fd, const QByteArray& contents) {
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.constData() + done, size_t(contents.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
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
int createBeside(const QString& target, QByteArray* name) {
    struct stat st {};
    const bool exists = ::stat(nativePath(target).constData(), &st) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = nativePath(target) + '.' +
                QByteArray::number(QRandomGenerator::global()->generate(), 16);
        const int fd = ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists)
                ::fchmod(fd, st.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

int writeAndCheck(const QByteArray& name, int fd, const QByteArray& contents) {
    int error = writeAll(fd, contents);
    // Some file systems report a full disk only when the data is flushed.
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error)
        return error;
    QByteArray back;
    if (const int e = DiskFile::read(QFile::decodeName(name), &back))
        return e;
    return back == contents ? 0 : EIO;
}

void syncFolderOf(const QString& target) {
    const int dir = ::open(nativePath(QFileInfo(target).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the rename is done; this only makes it last through a power cut
        ::close(dir);
    }
}
} // namespace

int DiskFile::read(const QString& path, QByteArray* contents) {
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = readAll(fd, contents);
    ::close(fd);
    return error;
}

int DiskFile::replace(const QString& path, const QByteArray& contents) {
    const QString target = finalTarget(path);
    QByteArray name;
    const int fd = createBeside(target, &name);
    if (fd < 0)
        return -fd;
    int error = writeAndCheck(name, fd, contents);
    if (!error && ::rename(name.constData(), nativePath(target).constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(name.constData());
        return error;
    }
    syncFolderOf(target);
    return 0;
}
