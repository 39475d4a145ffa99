#pragma once

#include <windows.h>

#include <string>

// Renames a file over another, riding out a refusal of a moment: antivirus
// scanners and the search indexer open a file in AppData as soon as it is
// written, and while they hold it a rename over it is refused (access
// denied, sharing or lock violation). Plain Win32 without Qt, so that it is
// tested under Wine with the desktop core.
namespace FileRename {
constexpr DWORD RetryMs = 1000; // how long a refusal is ridden out
constexpr DWORD PauseMs = 50;

// ERROR_SUCCESS, or the error of the last try.
DWORD replace(const std::wstring& from, const std::wstring& to);
} // namespace FileRename
