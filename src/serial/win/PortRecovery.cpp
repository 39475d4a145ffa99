#include "serial/win/PortRecovery.h"

PortRecovery::Kind PortRecovery::kindOf(DWORD code) {
    switch (code) {
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
        return Kind::Gone;
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_SHARING_VIOLATION:
        return Kind::Passing;
    default:
        return Kind::Other;
    }
}

HANDLE PortRecovery::reopen(const std::function<HANDLE(DWORD* code)>& open,
                            const std::function<bool(DWORD ms)>& pause, DWORD* code) {
    for (int i = 0; i < Tries; ++i) {
        if (!pause(PauseMs))
            return INVALID_HANDLE_VALUE;
        *code = 0;
        const HANDLE h = open(code);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        if (kindOf(*code) == Kind::Gone)
            break;
    }
    return INVALID_HANDLE_VALUE;
}
