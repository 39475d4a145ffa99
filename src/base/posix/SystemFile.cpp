#include "base/SystemFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

int opened(int fd, SystemFile::Handle* file) {
    *file = fd;
    return fd < 0 ? errno : 0;
}
} // namespace

namespace SystemFile {

int openRead(const QString& path, Handle* file) {
    return opened(::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC), file);
}

int createNew(const QString& path, const QString& permissionsOf, Handle* file) {
    struct stat st {};
    const bool copy =
        !permissionsOf.isEmpty() && ::stat(nativePath(permissionsOf).constData(), &st) == 0;
    const int fd =
        ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 && copy)
        ::fchmod(fd, st.st_mode & 07777);
    return opened(fd, file);
}

int openAppend(const QString& path, Handle* file) {
    return opened(
        ::open(nativePath(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600), file);
}

qint64 read(Handle file, char* buffer, qint64 size) {
    for (;;) {
        const ssize_t n = ::read(int(file), buffer, size_t(size));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -errno;
    }
}

int write(Handle file, const char* data, qint64 size, qint64* written) {
    *written = 0;
    while (*written < size) {
        const ssize_t n = ::write(int(file), data + *written, size_t(size - *written));
        if (n > 0)
            *written += n;
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

qint64 readEnd(Handle file, char* buffer, qint64 size) {
    struct stat st {};
    if (::fstat(int(file), &st) != 0)
        return -errno;
    const qint64 n = qMin<qint64>(size, st.st_size);
    for (;;) {
        const ssize_t got = ::pread(int(file), buffer, size_t(n), off_t(st.st_size - n));
        if (got >= 0)
            return got;
        if (errno != EINTR)
            return -errno;
    }
}

int lock(Handle file) {
    while (::flock(int(file), LOCK_EX) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

int unlock(Handle file) {
    return ::flock(int(file), LOCK_UN) == 0 ? 0 : errno;
}

int sync(Handle file) {
    return ::fdatasync(int(file)) == 0 ? 0 : errno;
}

int close(Handle file) {
    return ::close(int(file)) == 0 ? 0 : errno;
}

int replace(const QString& from, const QString& to) {
    if (::rename(nativePath(from).constData(), nativePath(to).constData()) != 0)
        return errno;
    // The rename is done; syncing the folder only makes it last through a
    // power cut.
    const int dir = ::open(nativePath(QFileInfo(to).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int remove(const QString& path) {
    return ::unlink(nativePath(path).constData()) == 0 ? 0 : errno;
}

int makeFolders(const QString& path) {
    const QByteArray name = nativePath(path);
    for (qsizetype i = 1; i <= name.size(); ++i)
        if ((i == name.size() || name[i] == '/') && ::mkdir(name.left(i).constData(), 0700) != 0 &&
            errno != EEXIST)
            return errno;
    return 0;
}

qint64 processId() {
    return ::getpid();
}

} // namespace SystemFile
