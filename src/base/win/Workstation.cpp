#include "base/Workstation.h"

#include <windows.h>

namespace Workstation {

QString userName() {
    wchar_t name[257];
    DWORD size = 257;
    return GetUserNameW(name, &size) ? QString::fromWCharArray(name, int(size) - 1) : QString();
}

QString computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? QString::fromWCharArray(name, int(size)) : QString();
}

} // namespace Workstation
