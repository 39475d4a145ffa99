#include "app/Session.h"

#include <QSocketNotifier>
#include <QWidget>

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
