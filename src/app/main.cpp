#include "forms/main/Form1.h"
#include "platform/DesktopPlatform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parvelo"));
    QApplication::setOrganizationName(QStringLiteral("Parvelo"));
    Form1 form(createDesktopPlatform());
    form.Form_Load();
    form.show();
    return app.exec();
}
