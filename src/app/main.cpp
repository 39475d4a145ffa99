// The app folder: start-up (this file), AppState, the one record of values that
// several windows share, and the settings schema with its store. Start-up may include
// every folder; AppState and the settings include only base/ and the plain values of
// serial/SerialChoice.h.

#include "Session.h"
#include "forms/common/WarningBox.h"
#include "forms/main/Form1.h"
#include "platform/DesktopPlatform.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
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
