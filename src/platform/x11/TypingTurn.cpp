#include "platform/TypingTurn.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Two lock files per display in the user's runtime folder: the turn itself
// (exclusive), and the waiters (each holds it shared while it waits, so that
// the one giving the turn back can see that someone waits).
struct TypingTurn::Handles {
    int turn = -1;
    int waiters = -1;
};

namespace {
int openLock(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                  0600);
}

// The user's runtime folder, else one of our own in /tmp; empty when the
// one in /tmp belongs to someone else, who could then hold the turn.
QString lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime;
    const QString folder = QDir::tempPath() + QStringLiteral("/parvelo-%1").arg(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return {};
    return folder;
}
} // namespace

TypingTurn::TypingTurn(const QString& desktop) : handles_(std::make_unique<Handles>()) {
    QString name = desktop.isEmpty() ? qEnvironmentVariable("DISPLAY") : desktop;
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != '.' && c != '-')
            c = '_';
    const QString folder = lockFolder();
    if (folder.isEmpty())
        return; // no turns to take: typing goes on as with one Parvelo
    const QString base = folder + QStringLiteral("/parvelo-typing-") + name;
    handles_->turn = openLock(base + QStringLiteral(".turn"));
    handles_->waiters = openLock(base + QStringLiteral(".waiters"));
}

TypingTurn::~TypingTurn() {
    for (int fd : {handles_->turn, handles_->waiters})
        if (fd >= 0)
            ::close(fd); // gives back what this process held
}

bool TypingTurn::take() {
    if (held_)
        return true;
    if (handles_->turn < 0) // no lock file (a read-only folder): no turns to take
        return held_ = true;
    // While it leaves the turn to another, it counts as waiting itself, so
    // that the other leaves it the next turn in return.
    if (polite_.hasExpired() && ::flock(handles_->turn, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        if (waiting_ && handles_->waiters >= 0)
            ::flock(handles_->waiters, LOCK_UN);
        waiting_ = false;
        return true;
    }
    if (!waiting_ && handles_->waiters >= 0)
        waiting_ = ::flock(handles_->waiters, LOCK_SH | LOCK_NB) == 0;
    return false;
}

void TypingTurn::release() {
    if (!held_)
        return;
    held_ = false;
    if (handles_->turn < 0)
        return;
    ::flock(handles_->turn, LOCK_UN);
    // Someone waits when the waiters' file cannot be had alone.
    if (handles_->waiters >= 0) {
        if (::flock(handles_->waiters, LOCK_EX | LOCK_NB) == 0)
            ::flock(handles_->waiters, LOCK_UN);
        else
            polite_.setRemainingTime(YieldMs);
    }
}
