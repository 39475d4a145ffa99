// The app folder: start-up (this file), AppState, the one record of values that
// several windows share, and the settings schema with its store. Start-up may include
// every folder; AppState and the settings include only base/ and the plain values of
// serial/SerialChoice.h.

#include "forms/common/WarningBox.h"
#include "forms/main/Form1.h"
#include "platform/DesktopPlatform.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// A session that ends, or a plain kill, closes the window the orderly way:
// settings saved, port closed, nothing half-typed afterwards.
void closeOnTermination(Form1& form) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        form.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
}
} // namespace

int main(int argc, char** argv) {
    // On a Wayland desktop the window runs under XWayland when there is one:
    // it then centres itself as designed, and its Alt access keys and focus
    // behave as on X11. The targets run there too. Unless the user chose a
    // platform; the environment stays as it is for the programs we start.
    std::vector<char*> args(argv, argv + argc);
    char platformOption[] = "-platform";
    char xcb[] = "xcb";
    if (!args.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsSet("DISPLAY")) {
        args.insert(args.begin() + 1, {platformOption, xcb});
    }
    int count = int(args.size());
    args.push_back(nullptr);
    QApplication app(count, args.data());
    QApplication::setApplicationName(QStringLiteral("Parvelo"));
    QApplication::setOrganizationName(QStringLiteral("Parvelo"));
    Form1 form(createDesktopPlatform());
    closeOnTermination(form);
    form.Form_Load();
    form.show();
    if (const QString warning = form.sessionWarning(); !warning.isEmpty())
        QTimer::singleShot(0, &form, [&form, warning] { showWarning(&form, warning); });
    return app.exec();
}
