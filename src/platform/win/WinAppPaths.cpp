#include "platform/win/WinAppPaths.h"

#include <windows.h>

namespace {
std::wstring registered(HKEY root, const std::wstring& fileName) {
    const std::wstring key =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + fileName;
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value;
    // The default value; a REG_EXPAND_SZ one comes with its environment
    // variables expanded (asking for that type as well would be refused).
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    std::wstring path = value;
    // Some installers write the path in quotes.
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = path.substr(1, path.size() - 2);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return path;
}
} // namespace

std::wstring WinAppPaths::find(const std::wstring& fileName) {
    if (fileName.empty() || fileName.find_first_of(L"\\/") != std::wstring::npos)
        return {};
    std::wstring path = registered(HKEY_CURRENT_USER, fileName);
    return path.empty() ? registered(HKEY_LOCAL_MACHINE, fileName) : path;
}
