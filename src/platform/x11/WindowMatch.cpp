#include "platform/x11/WindowMatch.h"

#include <QFileInfo>

namespace {
const QSet<QString>& genericPrograms() {
    static const QSet<QString> names{"sh",   "dash",   "bash",    "zsh",   "ksh",    "env",
                                     "perl", "python", "python3", "nohup", "setsid", "xdg-open"};
    return names;
}

QString programFolder(const QString& executablePath) {
    const QString dir = QFileInfo(executablePath).path();
    const QString last = QFileInfo(dir).fileName();
    if (executablePath.isEmpty() || last == QLatin1String("bin") || last == QLatin1String("sbin"))
        return {};
    return dir;
}

bool relatedByName(const WindowCandidate& w, const Task& task) {
    QSet<QString> names;
    QSet<QString> folders;
    QStringList paths(task.executables.begin(), task.executables.end());
    paths << task.path << QFileInfo(task.path).canonicalFilePath();
    for (const QString& p : paths) {
        const QString name = WindowMatch::programName(p);
        if (name.isEmpty())
            continue;
        names.insert(name);
        const QString folder = programFolder(p);
        if (!folder.isEmpty())
            folders.insert(folder);
    }
    if (!w.executable.isEmpty()) {
        if (names.contains(WindowMatch::programName(w.executable)))
            return true;
        const QString folder = programFolder(w.executable);
        if (!folder.isEmpty() && folders.contains(folder))
            return true;
    }
    return (!w.wmInstance.isEmpty() && names.contains(w.wmInstance.toLower())) ||
           (!w.wmClass.isEmpty() && names.contains(w.wmClass.toLower()));
}
} // namespace

QString WindowMatch::programName(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName().toLower();
    if (name.endsWith(QLatin1String(".bin")))
        name.chop(4);
    if (genericPrograms().contains(name))
        return {};
    return name;
}

WindowMatch::Kind WindowMatch::classify(const WindowCandidate& w, const Task& task,
                                        const ProcessTree& tree) {
    if (w.pid > 0 && tree.isSelfOrDescendant(w.pid, task.pid))
        return Kind::OwnProcess;
    if (task.windowsAtLaunch.contains(w.id) || !relatedByName(w, task))
        return Kind::NoMatch;
    if (!task.hadWindow)
        return Kind::ByName;
    if (w.pid == 0 && !tree.family(task.pid).empty())
        return Kind::ByName;
    return Kind::NoMatch;
}
