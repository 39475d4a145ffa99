#include "base/SpoolFile.h"

#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

// An open file cannot be deleted on Windows; one opened to be deleted on
// close is, by the system, when its last handle goes: also when the
// process is killed.
std::unique_ptr<QFile> openSpoolFile(const QString& folder) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QDir::toNativeSeparators(QStringLiteral("%1/log-%2-%3-%4.tmp")
                                                          .arg(folder)
                                                          .arg(GetCurrentProcessId())
                                                          .arg(GetTickCount64())
                                                          .arg(attempt));
        HANDLE h =
            CreateFileW(name.toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            return nullptr;
        }
        auto file = std::make_unique<QFile>();
        if (!file->open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
            _close(fd);
            return nullptr;
        }
        return file;
    }
    return nullptr;
}
