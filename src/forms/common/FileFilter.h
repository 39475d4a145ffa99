#pragma once

#include <QStringList>

// Turns a filter list "Text File(*.txt)|*.txt|All files(*.*)|*.*" into
// Qt name filters whose shown text is each description exactly (use with
// QFileDialog::HideNameFilterDetails). "*.*" means every file, with or
// without a dot, as it does for the users who write it.
QStringList toQtNameFilters(const QString& filter);
