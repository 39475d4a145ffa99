#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Marks a folder immutable for as long as it lives: nothing can be created,
// renamed or removed in it, not even by root (for whom a mode of 0555 means
// nothing). isSet() is false where the file system or user cannot do it.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& path) : m_path(path) { m_set = setFlag(true); }
    ~ImmutableFolder() {
        if (m_set)
            setFlag(false);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool isSet() const { return m_set; }

private:
    bool setFlag(bool on) {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }
    QString m_path;
    bool m_set = false;
};
