#pragma once

#include <string>

// Where Windows finds a program by its file name when it is started by name
// (Run, ShellExecute): the App Paths registration, the current user's first.
// Office registers EXCEL.EXE there, wherever it is installed (Click-to-Run
// Office under ...\root\Office16\).
namespace WinAppPaths {
// "EXCEL.EXE" -> "C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE";
// "" when it is not registered or the registered file does not exist.
std::wstring find(const std::wstring& fileName);
} // namespace WinAppPaths
