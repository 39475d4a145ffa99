#include "LogFile.h"

#include "capture/LogHistory.h"
#include "forms/common/FileFilter.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>

namespace {
AppError saveError(const QString& path, const QSaveFile& file) {
    return makeError(
        Err::PathFileAccess,
        QStringLiteral("The log could not be saved to %1: %2").arg(path, file.errorString()));
}
} // namespace

Failure writeLogFile(const QString& path, const QString& logText, const LogHistory* history) {
    // The system's narrow encoding (UTF-8 on Linux) when all of the log fits
    // in it, else UTF-8 after a byte order mark (see LogHistory::fitsNarrow).
    const bool narrow = LogHistory::fitsNarrow(logText) && (!history || history->fitsNarrow());
    const QByteArray head = narrow ? QByteArray() : QByteArrayLiteral("\xEF\xBB\xBF");
    const QByteArray bytes =
        (narrow ? logText.toLocal8Bit() : logText.toUtf8()) + QByteArrayLiteral("\r\n");
    const auto writeAll = [&](QIODevice& out) {
        return out.write(head) == head.size() && !(history && history->writeTo(out, narrow)) &&
               out.write(bytes) == bytes.size();
    };
    // A device or pipe is written to, never replaced by a regular file of the
    // same name: the atomic save renames over its target, and as root that
    // would swap /dev/full for a file.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly) || !writeAll(device) || !device.flush())
            return makeError(Err::PathFileAccess,
                             QStringLiteral("The log could not be saved to %1: %2")
                                 .arg(path, device.errorString()));
        return std::nullopt;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return saveError(path, file);
    if (!writeAll(file)) {
        const AppError error = saveError(path, file);
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return saveError(path, file);
    return std::nullopt;
}

std::optional<QString> askLogFileName(QWidget* parent, const QString& initDir) {
    QFileDialog dialog(parent, QString(), initDir);
    dialog.setObjectName(QStringLiteral("FileSave"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog, the same on every desktop; the filters show exactly
    // their descriptions.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(toQtNameFilters(QString::fromLatin1(LogFileFilter)));
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
