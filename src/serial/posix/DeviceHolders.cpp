#include "DeviceHolders.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

namespace {
QByteArray readLink(const QByteArray& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
}

QString commandName(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

bool hasFdOn(qint64 pid, const QList<QByteArray>& targets) {
    const QByteArray dirPath = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir) // gone meanwhile, or another user's
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        if (targets.contains(readLink(dirPath + '/' + e->d_name))) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Alive, and (when the lock names its program) still that program: a PID
// taken over by another program leaves the lock stale, as Qt sees it too.
bool ownerAlive(qint64 pid, const QString& program) {
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return false;
    if (program.isEmpty())
        return true;
    const QByteArray exe = readLink("/proc/" + QByteArray::number(pid) + "/exe");
    return exe.isEmpty() ||
           QFileInfo(QString::fromLocal8Bit(exe)).fileName() == QFileInfo(program).fileName();
}

// A process that holds a pty's master (socat, a terminal, a test rig) is
// the one that provides the port, not a second reader of it: socat keeps its
// own slave end open as well. The kernel names the slave of each master
// descriptor in its fdinfo ("tty-index:").
bool holdsMasterOf(qint64 pid, int ptyIndex) {
    const QByteArray fdDir = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* dir = ::opendir(fdDir.constData());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const QByteArray link = readLink(fdDir + '/' + e->d_name);
        if (link != "/dev/ptmx" && link != "/dev/pts/ptmx")
            continue;
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(e->d_name));
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("tty-index:") && line.mid(10).trimmed().toInt() == ptyIndex) {
                found = true;
                break;
            }
        }
        if (found)
            break;
    }
    ::closedir(dir);
    return found;
}

// The number of a pty slave (/dev/pts/N), else -1.
int ptyIndexOf(const QString& device) {
    const QString real = QFileInfo(device).canonicalFilePath();
    const QLatin1String prefix("/dev/pts/");
    if (!real.startsWith(prefix))
        return -1;
    bool ok = false;
    const int index = real.mid(prefix.size()).toInt(&ok);
    return ok ? index : -1;
}

QStringList namesOf(const QString& device) {
    QStringList names{device};
    const QString real = QFileInfo(device).canonicalFilePath();
    if (!real.isEmpty() && real != device)
        names << real;
    return names;
}
} // namespace

DeviceHolders::DeviceHolders(qint64 self) : m_self(self) {}

QList<DeviceHolder> DeviceHolders::openers(const QString& device) const {
    QList<QByteArray> targets;
    for (const QString& name : namesOf(device))
        targets << QFile::encodeName(name);
    const int ptyIndex = ptyIndexOf(device);
    QList<DeviceHolder> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* e = ::readdir(proc)) {
        bool numeric = false;
        const qint64 pid = QByteArray(e->d_name).toLongLong(&numeric);
        if (numeric && pid != m_self && hasFdOn(pid, targets) &&
            !(ptyIndex >= 0 && holdsMasterOf(pid, ptyIndex)))
            found << DeviceHolder{pid, commandName(pid)};
    }
    ::closedir(proc);
    std::sort(found.begin(), found.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return found;
}

QStringList DeviceHolders::lockFileCandidates(const QString& device) {
    // The folders Qt's serial port tries, in its order.
    static const QStringList folders = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                        "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                        "/var/lock/lockdev", "/run/lock"};
    QStringList files;
    for (const QString& name : namesOf(device)) {
        QString base = name.startsWith(QLatin1String("/dev/")) ? name.mid(5) : name;
        base.replace('/', '_');
        for (const QString& folder : folders)
            files << folder + QStringLiteral("/LCK..") + base;
    }
    return files;
}

std::optional<DeviceHolder> DeviceHolders::lockOwner(const QString& device) const {
    for (const QString& path : lockFileCandidates(device)) {
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // Qt writes PID, program, host...; UUCP locks hold the PID alone,
        // padded with blanks.
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        bool ok = false;
        const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
        const QString program = QString::fromUtf8(lines.value(1).trimmed());
        if (!ok || !ownerAlive(pid, program))
            continue;
        const QString name = commandName(pid);
        return DeviceHolder{pid, name.isEmpty() ? QFileInfo(program).fileName() : name};
    }
    return std::nullopt;
}

std::optional<DeviceHolder> DeviceHolders::first(const QString& device) const {
    const QList<DeviceHolder> list = openers(device);
    if (!list.isEmpty())
        return list.first();
    return lockOwner(device);
}
