#pragma once

#include <QString>
#include <QStringList>

// Where "Parvelo Manual.pdf" is: beside the executable in a build tree, in
// the documentation folder of the prefix it is installed in, or in Debian's.
namespace ManualFile {
inline const QString FileName = QStringLiteral("Parvelo Manual.pdf");

// The places looked at, in order, for an executable in exeDir.
QStringList candidates(const QString& exeDir);
// The first candidate that is a readable file, or empty.
QString find(const QString& exeDir);
} // namespace ManualFile
