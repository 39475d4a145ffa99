#include "base/win/FileRename.h"

namespace {
bool refused(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
           code == ERROR_LOCK_VIOLATION;
}
} // namespace

DWORD FileRename::replace(const std::wstring& from, const std::wstring& to) {
    const ULONGLONG until = GetTickCount64() + RetryMs;
    while (true) {
        // MOVEFILE_WRITE_THROUGH flushes only a move that Windows makes as
        // a copy (to another volume); a rename in one folder is not made
        // durable by it. The file's contents were flushed before.
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ERROR_SUCCESS;
        const DWORD code = GetLastError();
        if (!refused(code) || GetTickCount64() >= until)
            return code;
        // The one wait on the UI thread: a settings save is rare, the
        // holder lets go within moments, and the save must not fail then.
        Sleep(PauseMs);
    }
}
