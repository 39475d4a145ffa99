#include "LogFile.h"

#include "forms/common/FileFilter.h"

#include <QFileDialog>
#include <QSaveFile>

Failure writeLogFile(const QString& path, const QString& logText) {
    QSaveFile file(path);
    const QByteArray bytes = logText.toUtf8() + "\r\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return makeError(
            Err::PathFileAccess,
            QStringLiteral("The log could not be saved to %1: %2").arg(path, file.errorString()));
    return std::nullopt;
}

std::optional<QString> askLogFileName(QWidget* parent, const QString& initDir) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(
        toQtNameFilters(QStringLiteral("Text File(*.txt)|*.txt|All files(*.*)|*.*")));
    dialog.setDirectory(initDir);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}
