#include "platform/x11/X11Platform.h"

#include "platform/x11/X11ClientEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

namespace {
// How long a newly started program may take to show its first window.
constexpr std::int64_t StartupWaitMs = 30000;
// How long after the started process ended a window of a running instance
// it handed over to may still appear.
constexpr std::int64_t HandOverMs = 3000;

std::int64_t monotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}
} // namespace

X11Platform::X11Platform(std::unique_ptr<X11Connection> connection, bool waylandSession)
    : connection_(std::move(connection)), finder_(*connection_), activator_(*connection_, finder_),
      typer_(*connection_), waylandSession_(waylandSession) {}

std::int16_t X11Platform::launch(const QString& path, AppError* error) {
    const auto fail = [&](const QString& why) -> std::int16_t {
        if (error)
            *error = makeError(Err::FileNotStartable,
                               QStringLiteral("Cannot start \"%1\": %2").arg(path, why));
        return 0;
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return fail(QStringLiteral("the file does not exist."));
    if (!info.isFile())
        return fail(QStringLiteral("it is not a file."));
    if (!info.isExecutable())
        return fail(QStringLiteral("the file is not executable."));

    Task task;
    task.path = path;
    for (unsigned long w : finder_.clientWindows())
        task.windowsAtLaunch.insert(w);
    task.launchedAtMs = monotonicMs();
    // Our own child, so that its exit status can be told; in a session of
    // its own, so that a Ctrl+C meant for Parvelo does not end it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const QByteArray file = QFile::encodeName(path);
    char* argv[] = {const_cast<char*>(file.constData()), nullptr};
    std::vector<QByteArray> entries;
    for (const QString& entry : X11ClientEnvironment::forTarget(
             QProcessEnvironment::systemEnvironment().toStringList(), waylandSession_))
        entries.push_back(entry.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, file.constData(), nullptr, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    if (failed || pid <= 0)
        return fail(QStringLiteral("the system could not run it (%1).")
                        .arg(QString::fromLocal8Bit(strerror(failed))));
    task.pid = pid;
    return tasks_.add(std::move(task)).id;
}

void X11Platform::noteExit(Task& task) {
    if (task.exitedAtMs >= 0)
        return;
    int status = 0;
    if (waitpid(task.pid, &status, WNOHANG) != task.pid)
        return;
    task.exitedAtMs = monotonicMs();
    task.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void X11Platform::learnFamily(Task& task, const ProcessTree& tree) {
    for (pid_t pid : tree.family(task.pid)) {
        const QString exe = ProcessTree::executableOf(pid);
        if (!exe.isEmpty())
            task.executables.insert(exe);
    }
}

Failure X11Platform::endedWithoutWindow(Task& task) {
    noteExit(task);
    // Ended without a window, and without handing over to an instance that
    // shows one: nothing will come.
    if (task.hadWindow || task.exitedAtMs < 0 || monotonicMs() - task.exitedAtMs < HandOverMs)
        return std::nullopt;
    return makeError(
        Err::NoTargetWindow,
        waylandSession_
            // The usual cause: the program was running already, natively on
            // Wayland, and the new start handed over to it.
            ? QStringLiteral("\"%1\" ended with exit status %2 and showed no X11 window. "
                             "If it is already running natively on Wayland, close it "
                             "and start it from Parvelo.")
                  .arg(task.path)
                  .arg(task.exitStatus)
            : QStringLiteral("\"%1\" ended with exit status %2 and showed no window. "
                             "Choose a program with a window.")
                  .arg(task.path)
                  .arg(task.exitStatus));
}

Failure X11Platform::checkLaunched(std::int16_t taskId) {
    Task* task = tasks_.find(taskId);
    if (!task)
        return std::nullopt;
    const ProcessTree tree = ProcessTree::fromProc();
    learnFamily(*task, tree);
    if (const unsigned long window = finder_.findFor(*task, tree)) {
        // Followed from here on, so that the first reading need not wait
        // for the window to settle.
        WindowSettle::Look look;
        settled(*task, window, tree, &look);
        return std::nullopt;
    }
    if (task->hadWindow)
        return std::nullopt;
    return endedWithoutWindow(*task);
}

bool X11Platform::settled(Task& task, unsigned long window, const ProcessTree& tree,
                          WindowSettle::Look* look) {
    if (task.settle.isReady(window))
        return true;
    *look = finder_.lookOf(window);
    std::int64_t cpuMs = 0;
    for (pid_t pid : tree.family(task.pid))
        cpuMs += ProcessTree::cpuMsOf(pid);
    return task.settle.observe(window, *look, monotonicMs(), cpuMs);
}

Failure X11Platform::activate(std::int16_t taskId) {
    confirmed_ = 0;
    if (!turn_.take())
        return makeError(Err::OtherTyping,
                         QStringLiteral("another Parvelo is typing into its own target"));
    Task* task = tasks_.find(taskId);
    if (!task)
        return makeError(Err::NoTargetWindow,
                         QStringLiteral("No program was started as task %1.").arg(taskId));
    // Fast path, taken before every line: the known window still has the focus.
    // The focus query is a round trip, so a DestroyNotify sent before it has
    // arrived by the time wasDestroyed() looks.
    if (task->window && task->settle.isReady(task->window) && activator_.hasFocus(task->window) &&
        !connection_->wasDestroyed(task->window, task->windowToken) &&
        finder_.isUsable(task->window)) {
        if (const QString holder = activator_.grabbedBy(); !holder.isEmpty())
            return makeError(Err::KeyboardHeld, holder);
        confirm(*task);
        return std::nullopt;
    }
    if (task->window && connection_->wasDestroyed(task->window, task->windowToken))
        task->window = 0;
    const ProcessTree tree = ProcessTree::fromProc();
    learnFamily(*task, tree);
    const unsigned long window = finder_.findFor(*task, tree);
    if (!window) {
        task->window = 0;
        if (Failure f = endedWithoutWindow(*task))
            return f;
        // A program just started may not have shown its window yet (a
        // spreadsheet takes seconds).
        if (!task->hadWindow && monotonicMs() - task->launchedAtMs < StartupWaitMs)
            return makeError(
                Err::TargetStarting,
                QStringLiteral("waiting for the window of \"%1\" to appear").arg(task->path));
        return makeError(Err::NoTargetWindow,
                         QStringLiteral("The window of \"%1\" was not found; it may have ended.")
                             .arg(task->path));
    }
    if (window != task->window) {
        task->windowToken = connection_->watch(window);
        if (!finder_.isUsable(window)) // gone before we started watching it
            return makeError(
                Err::TargetNotFocused,
                QStringLiteral("the window of \"%1\" has just closed").arg(task->path));
        task->focusAskedAtMs = -1;
    }
    task->window = window;
    task->hadWindow = true;
    // A window that has only just appeared may still drop keys; the time it
    // takes to settle counts while the focus is being asked for.
    WindowSettle::Look look;
    const bool ready = settled(*task, window, tree, &look);
    if (!activator_.hasFocus(window))
        return notFocused(*task, tree);
    if (!ready)
        return makeError(
            Err::TargetStarting,
            look.title.isEmpty()
                ? QStringLiteral("waiting for the window of \"%1\" to finish opening")
                      .arg(task->path)
                : QStringLiteral("waiting for \"%1\" to finish opening").arg(look.title));
    if (const QString holder = activator_.grabbedBy(); !holder.isEmpty())
        return makeError(Err::KeyboardHeld, holder);
    confirm(*task);
    return std::nullopt;
}

void X11Platform::confirm(const Task& task) {
    confirmed_ = task.window;
    confirmedToken_ = task.windowToken;
}

AppError X11Platform::notFocused(Task& task, const ProcessTree& tree) {
    // A dialog of the target in front of its main window: the user has to
    // answer it. Asking for the main window would only steal the focus from
    // whatever the user is doing meanwhile.
    if (const unsigned long dialog = finder_.dialogOf(task, tree)) {
        const QString title = finder_.titleOf(dialog);
        return makeError(Err::TargetBusy,
                         title.isEmpty()
                             ? QStringLiteral("the target shows a dialog")
                             : QStringLiteral("the target shows the dialog \"%1\"").arg(title));
    }
    // Ask again only now and then: a window manager may need a moment, and
    // repeated requests would fight a user who works elsewhere. Never while
    // a mouse button is down: a button whose window loses the focus between
    // press and release forgets the press, so a click on Stop (or anywhere)
    // would come to nothing.
    constexpr std::int64_t AskAgainMs = 500;
    if ((task.focusAskedAtMs < 0 || monotonicMs() - task.focusAskedAtMs >= AskAgainMs) &&
        !activator_.buttonHeld()) {
        activator_.request(task.window);
        task.focusAskedAtMs = monotonicMs();
    }
    return makeError(Err::TargetNotFocused,
                     QStringLiteral("the target window does not have the keyboard focus"));
}

QString X11Platform::targetTitle() {
    // Asked after every line: read the title again at most once a second.
    if (confirmed_ != titleWindow_ || confirmedToken_ != titleToken_ ||
        monotonicMs() - titleReadAtMs_ > 1000) {
        title_ = confirmed_ ? finder_.titleOf(confirmed_) : QString();
        titleWindow_ = confirmed_;
        titleToken_ = confirmedToken_;
        titleReadAtMs_ = monotonicMs();
    }
    return title_;
}

QString X11Platform::targetClass() {
    // A window's class does not change: read once per window (a closed
    // window's id is soon handed out again: the token tells them apart).
    if (confirmed_ != classWindow_ || confirmedToken_ != classToken_) {
        const WindowCandidate c = confirmed_ ? finder_.describe(confirmed_) : WindowCandidate{};
        class_ = c.wmInstance.isEmpty() && c.wmClass.isEmpty()
                     ? QString()
                     : c.wmInstance + QLatin1Char(' ') + c.wmClass;
        pid_ = c.pid;
        classWindow_ = confirmed_;
        classToken_ = confirmedToken_;
    }
    return class_;
}

qint64 X11Platform::targetPid() {
    targetClass();
    return pid_;
}

Failure X11Platform::typeText(const QString& text, int* typed) {
    if (typed)
        *typed = 0;
    // The focus may have moved since activate(): never type elsewhere.
    // At every slice of keys: the focus is still on the window, and it is
    // still the same window (a closed window's id is soon handed out again).
    // And no other program has grabbed the keyboard (a screen locker starting,
    // a menu opening): looked at every GrabCheckMs, as each look costs a few
    // round trips.
    const unsigned long window = confirmed_;
    const unsigned token = confirmedToken_;
    QString holder;
    std::int64_t grabCheckedMs = monotonicMs(); // by activate()
    const auto stillThere = [&] {
        if (!activator_.hasFocus(window) || connection_->wasDestroyed(window, token))
            return false;
        if (monotonicMs() - grabCheckedMs < GrabCheckMs)
            return true;
        grabCheckedMs = monotonicMs();
        holder = activator_.grabbedBy();
        return holder.isEmpty();
    };
    const Failure f =
        window ? typer_.type(text, stillThere, typed) : makeError(Err::TargetNotFocused, QString());
    if (f && f->number == Err::TargetNotFocused) {
        confirmed_ = 0;
        return makeError(Err::TargetNotFocused,
                         holder.isEmpty()
                             ? QStringLiteral("the keyboard focus left the target window")
                             : holder);
    }
    return f;
}
