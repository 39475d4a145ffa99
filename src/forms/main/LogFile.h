#pragma once

#include "app/AppError.h"

#include <QString>
#include <optional>

class QWidget;

// Writes the log's text followed by CR LF, UTF-8 without a byte-order mark.
// The file is replaced atomically: a save that fails leaves the old file.
Failure writeLogFile(const QString& path, const QString& logText);

// The Save As dialog of Log Save, opening in initDir and proposing no file
// name; the chosen path, or nothing on Cancel.
std::optional<QString> askLogFileName(QWidget* parent, const QString& initDir);
