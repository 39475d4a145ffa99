#pragma once

#include <QString>

class QWidget;

// The warning box: exclamation icon, one OK button, caption "Parvelo".
void showWarning(QWidget* parent, const QString& text);
