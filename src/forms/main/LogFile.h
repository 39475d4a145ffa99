#pragma once

#include "base/AppError.h"

#include <QString>
#include <optional>

class LogHistory;
class QWidget;

// The filter list of the Log Save dialog, in the form the user sees it.
inline constexpr const char* LogFileFilter = "Text File(*.txt)|*.txt|All files(*.*)|*.*";

// Writes the lines that scrolled out of the log box (history, if given),
// then logText and one CR LF, to path in the system's narrow encoding,
// without a byte-order mark. The file is replaced only once the whole text
// has been written, so a failed save leaves what was there.
Failure writeLogFile(const QString& path, const QString& logText,
                     const LogHistory* history = nullptr);

// The Save As dialog of Log Save, opening in initDir and proposing no file
// name (the shared dialog once proposed the launched program, which a save
// would have overwritten). The chosen path, or nothing on Cancel.
std::optional<QString> askLogFileName(QWidget* parent, const QString& initDir);
