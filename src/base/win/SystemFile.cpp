#include "base/SystemFile.h"

#include "base/win/FileRename.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <windows.h>

namespace {
std::wstring nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// The errno value the callers judge failures by.
int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    default:
        return EIO;
    }
}

int lastError() {
    return errnoOf(GetLastError());
}

HANDLE handle(SystemFile::Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

int opened(HANDLE h, SystemFile::Handle* file) {
    *file =
        h == INVALID_HANDLE_VALUE ? SystemFile::NoFile : reinterpret_cast<SystemFile::Handle>(h);
    return h == INVALID_HANDLE_VALUE ? lastError() : 0;
}
} // namespace

namespace SystemFile {

int openRead(const QString& path, Handle* file) {
    return opened(CreateFileW(nativePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                  file);
}

int createNew(const QString& path, const QString&, Handle* file) {
    // Permissions come from the folder's inherited access list.
    return opened(CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
                  file);
}

int openAppend(const QString& path, Handle* file) {
    // Under the user's own profile folder, private to the user already.
    return opened(CreateFileW(nativePath(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                  file);
}

qint64 read(Handle file, char* buffer, qint64 size) {
    DWORD n = 0;
    if (!ReadFile(handle(file), buffer, DWORD(qMin<qint64>(size, 1 << 30)), &n, nullptr))
        return -lastError();
    return n;
}

int write(Handle file, const char* data, qint64 size, qint64* written) {
    *written = 0;
    while (*written < size) {
        DWORD n = 0;
        if (!WriteFile(handle(file), data + *written, DWORD(qMin<qint64>(size - *written, 1 << 30)),
                       &n, nullptr))
            return lastError();
        if (n == 0)
            return EIO;
        *written += n;
    }
    return 0;
}

qint64 readEnd(Handle file, char* buffer, qint64 size) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handle(file), &length))
        return -lastError();
    const qint64 n = qMin<qint64>(size, length.QuadPart);
    const quint64 from = quint64(length.QuadPart - n);
    OVERLAPPED at{};
    at.Offset = DWORD(from);
    at.OffsetHigh = DWORD(from >> 32);
    DWORD got = 0;
    // Appends go to the end whatever the position: the handle has
    // FILE_APPEND_DATA and no FILE_WRITE_DATA.
    if (n > 0 && !ReadFile(handle(file), buffer, DWORD(n), &got, &at))
        return -lastError();
    return got;
}

// A byte far beyond any journal's end stands for the whole file: locking it
// keeps no one from reading or appending.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

int lock(Handle file) {
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    return LockFileEx(handle(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) ? 0 : lastError();
}

int unlock(Handle file) {
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    return UnlockFileEx(handle(file), 0, 1, 0, &at) ? 0 : lastError();
}

int sync(Handle file) {
    return FlushFileBuffers(handle(file)) ? 0 : lastError();
}

int close(Handle file) {
    return CloseHandle(handle(file)) ? 0 : lastError();
}

int replace(const QString& from, const QString& to) {
    return errnoOf(FileRename::replace(nativePath(from), nativePath(to)));
}

int remove(const QString& path) {
    return DeleteFileW(nativePath(path).c_str()) ? 0 : lastError();
}

int makeFolders(const QString& path) {
    if (QFileInfo(path).isDir())
        return 0;
    return QDir().mkpath(path) ? 0 : EACCES;
}

qint64 processId() {
    return GetCurrentProcessId();
}

} // namespace SystemFile
