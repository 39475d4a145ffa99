#include "main/Session.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include <windows.h>

namespace {
QPointer<QWidget> closing;
HANDLE closed = nullptr;

// Runs on a thread of the system's: the window is closed on its own thread,
// and the process lives on until that is done (the system ends it when this
// returns, or after its own time-out).
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (closing)
                closing->close();
            SetEvent(closed);
        },
        Qt::QueuedConnection);
    WaitForSingleObject(closed, 4000);
    return TRUE;
}
} // namespace

namespace Session {

std::vector<char*> qtArguments(int argc, char** argv) {
    return std::vector<char*>(argv, argv + argc);
}

// A Windows session always has its desktop.
std::string displayProblem() {
    return {};
}

// Log-off and shut-down reach a window program as a question to the
// session, a console it was started from as a console event; taskkill
// without /F asks the window itself, which closes the orderly way anyway.
void closeWhenEnding(QWidget& window) {
    closing = &window;
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.close(); });
    closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace Session
