// The main folder: start-up, at the top of the house. It may include every folder
// and none includes it: the window, the desktop, the session and the settings
// file are put together here.

#include "app/AppState.h"
#include "forms/common/WarningBox.h"
#include "forms/main/Form1.h"
#include "main/JournalCommand.h"
#include "main/Session.h"
#include "platform/DesktopPlatform.h"

#include <QApplication>
#include <QTimer>

#include <QRegularExpression>

#include <cstdio>
#include <cstring>

namespace {
// Takes "--profile NAME" (or --profile=NAME) out of the arguments. The name
// becomes part of a file name: plain letters, digits, '-', '_' and '.' only.
bool takeProfile(int* argc, char** argv, QString* profile) {
    int kept = 0;
    bool ok = true;
    for (int i = 0; i < *argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (std::strcmp(arg, "--profile") == 0)
            value = i + 1 < *argc ? argv[++i] : "";
        else if (std::strncmp(arg, "--profile=", 10) == 0)
            value = arg + 10;
        if (!value) {
            argv[kept++] = argv[i];
            continue;
        }
        *profile = QString::fromLocal8Bit(value);
        static const QRegularExpression plain(
            QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9_.-]{0,39}$"));
        if (!plain.match(*profile).hasMatch()) {
            std::fprintf(stderr,
                         "Parvelo: \"%s\" cannot name a profile. Use up to 40 letters, digits,\n"
                         "'-', '_' and '.', for example: --profile balance\n",
                         value);
            ok = false;
        }
    }
    *argc = kept;
    return ok;
}
} // namespace

int main(int argc, char** argv) {
    // Checking or exporting a journal needs no display.
    if (const std::optional<int> status = runJournalCommand(argc, argv))
        return *status;
    if (!takeProfile(&argc, argv, &AppState::instance().Profile))
        return 2;
    if (const std::string problem = Session::displayProblem(); !problem.empty()) {
        std::fputs(problem.c_str(), stderr);
        return 1;
    }
    std::vector<char*> args = Session::qtArguments(argc, argv);
    int count = int(args.size());
    args.push_back(nullptr);
    QApplication app(count, args.data());
    QApplication::setApplicationName(QStringLiteral("Parvelo"));
    QApplication::setOrganizationName(QStringLiteral("Parvelo"));
    Form1 form(createDesktopPlatform());
    Session::closeWhenEnding(form);
    form.Form_Load();
    form.show();
    if (const QString warning = form.sessionWarning(); !warning.isEmpty())
        QTimer::singleShot(0, &form, [&form, warning] { showWarning(&form, warning); });
    return app.exec();
}
