#include "platform/x11/ProcessTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

ProcessTree::ProcessTree(std::unordered_map<pid_t, pid_t> parentOf)
    : parentOf_(std::move(parentOf)) {}

ProcessTree ProcessTree::fromProc() {
    std::unordered_map<pid_t, pid_t> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : entries) {
        bool ok = false;
        const pid_t pid = name.toInt(&ok);
        if (!ok || pid <= 0)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const pid_t ppid = parentFromStat(stat.read(512));
        if (ppid >= 0)
            parents[pid] = ppid;
    }
    return ProcessTree(std::move(parents));
}

pid_t ProcessTree::parentFromStat(const QByteArray& statText) {
    // "pid (comm) state ppid ..."
    const int close = statText.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = statText.mid(close + 1).simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    bool ok = false;
    const int ppid = fields[1].toInt(&ok);
    return ok ? pid_t(ppid) : -1;
}

bool ProcessTree::isSelfOrDescendant(pid_t pid, pid_t root) const {
    if (pid <= 0 || root <= 0)
        return false;
    // Bounded walk: a corrupt map must not loop forever.
    for (int depth = 0; depth < 4096 && pid > 0; ++depth) {
        if (pid == root)
            return true;
        const auto it = parentOf_.find(pid);
        if (it == parentOf_.end())
            return false;
        pid = it->second;
    }
    return false;
}

std::vector<pid_t> ProcessTree::family(pid_t root) const {
    std::vector<pid_t> result;
    for (const auto& [pid, parent] : parentOf_) {
        Q_UNUSED(parent);
        if (isSelfOrDescendant(pid, root))
            result.push_back(pid);
    }
    return result;
}

std::int64_t ProcessTree::cpuMsOf(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the command name: state, ppid, ... utime and stime are the
    // 12th and 13th fields, in clock ticks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(") ") + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    static const long ticks = ::sysconf(_SC_CLK_TCK);
    return (fields[11].toLongLong() + fields[12].toLongLong()) * 1000 / (ticks > 0 ? ticks : 100);
}

QString ProcessTree::executableOf(pid_t pid) {
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
}
