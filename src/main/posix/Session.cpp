#include "main/Session.h"

#include <QSocketNotifier>
#include <QWidget>

#include <X11/Xlib.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}
} // namespace

namespace Session {

std::vector<char*> qtArguments(int argc, char** argv) {
    // On a Wayland desktop the window runs under XWayland when there is one:
    // it then centres itself as designed, and its Alt access keys and focus
    // behave as on X11. The targets run there too. Unless the user chose a
    // platform; the environment stays as it is for the programs we start.
    static char platformOption[] = "-platform";
    static char xcb[] = "xcb";
    std::vector<char*> args(argv, argv + argc);
    if (!args.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsSet("DISPLAY")) {
        args.insert(args.begin() + 1, {platformOption, xcb});
    }
    return args;
}

std::string displayProblem() {
    const QByteArray x11 = qgetenv("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11.isEmpty() && !wayland)
        return "Parvelo: there is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set),\n"
               "so Parvelo cannot show its window. Start it from a desktop session (a terminal\n"
               "or the menu of the desktop), or over SSH with X forwarding (ssh -X).\n";
    if (x11.isEmpty())
        return {}; // a Wayland desktop without XWayland: Qt's Wayland plugin
    Display* display = XOpenDisplay(x11.constData());
    if (display) {
        XCloseDisplay(display);
        return {};
    }
    if (wayland)
        return {};
    return "Parvelo: the display " + x11.toStdString() +
           " cannot be opened (it has ended, or this user may not use it),\n"
           "so Parvelo cannot show its window. Start it from a desktop session, where\n"
           "DISPLAY names the screen in front of you.\n";
}

// A session that ends (SIGHUP), or a plain kill or Ctrl+C.
void closeWhenEnding(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        window.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
}

} // namespace Session
