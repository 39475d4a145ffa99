#pragma once

#include <string>

// Text conversions the core needs at its edges.
namespace WinText {
std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& utf8);
// The system's text for a Win32 error code, without the trailing newline.
std::string systemMessage(unsigned long code);
// "C:\\Prog\\Excel.EXE" -> "excel.exe"
std::wstring lowerFileName(const std::wstring& path);
// "C:\\Prog\\Excel.EXE" -> "c:\\prog"
std::wstring lowerFolder(const std::wstring& path);
} // namespace WinText
