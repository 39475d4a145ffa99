#pragma once

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

// A small tmpfs mounted over a folder for as long as it lives, to run a disk
// full. Mounting needs root and a system that allows it: error() says why not.
class TmpfsMount {
public:
    TmpfsMount(const QString& folder, int bytes) : m_folder(QFile::encodeName(folder)) {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        if (::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options.constData()) == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount() {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    QString m_error;
};
