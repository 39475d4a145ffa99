#include "WarningBox.h"

#include <QMessageBox>

void showWarning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Parvelo"), text, QMessageBox::Ok, parent);
    box.exec();
}
